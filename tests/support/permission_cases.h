// Cases that depend on who runs the suite. Permission bits do not stop root,
// so cases that rely on them skip as root; CI runs those suites again as an
// ordinary user with VORSAL_PERMISSION_CASES set, where such a skip fails
// instead (the run was meant to be unprivileged). Cases that must make
// another user's file need root and skip otherwise.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

#include <unistd.h>

#define VORSAL_SKIP_AS_ROOT()                                                            \
  do {                                                                                 \
    if (::geteuid() != 0) break;                                                       \
    if (std::getenv("VORSAL_PERMISSION_CASES") != nullptr) FAIL() << "run as root";    \
    GTEST_SKIP() << "permission bits do not stop root";                                \
  } while (false)

#define VORSAL_SKIP_UNLESS_ROOT()                                                      \
  do {                                                                                 \
    if (::geteuid() != 0) GTEST_SKIP() << "making another user's file needs root";     \
  } while (false)

namespace vorsal::test {

// A user and group other than the one running the suite (nobody:nogroup).
constexpr unsigned OtherUserId = 65534;
constexpr unsigned OtherGroupId = 65534;

}  // namespace vorsal::test
