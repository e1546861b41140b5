// The re-hash loops and the choice between them. GostReHash runs the fastest
// loop the processor has, or the one the environment variable
// VORSAL_GOST_LOOP names (plain, avx2 or avx512) for benchmarks, tests
// and bug reports. Every loop gives the plain loop's values.
#pragma once

#include "keys/gost_core.h"

#include <span>
#include <string>
#include <string_view>

namespace vorsal::gost {

inline constexpr const char* LoopVariable = "VORSAL_GOST_LOOP";

struct ReHashLoopInfo {
  std::string_view name;          // as VORSAL_GOST_LOOP names it
  std::string_view instructions;  // what the processor must have
  ReHashLoop run;                 // null where the processor lacks them
};

// Every loop, fastest first; the last, plain, runs everywhere.
std::span<const ReHashLoopInfo> ReHashLoops();

struct ReHashLoopChoice {
  const ReHashLoopInfo* loop = nullptr;  // never null
  std::string refusal;                   // empty unless the request was refused
};

// The loop that `request` (a value of VORSAL_GOST_LOOP) names, or the fastest
// the processor has when `request` is null or empty. An unknown name, or a
// loop the processor cannot run, is refused: then the fastest loop is chosen
// and `refusal` says why, naming the loops the processor has.
ReHashLoopChoice ChooseReHashLoop(const char* request);

}  // namespace vorsal::gost
