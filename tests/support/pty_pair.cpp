#include "support/pty_pair.h"

#include "support/event_pump.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace vorsal::test {

PtyPair::PtyPair() {
  char name[128] = {};
  if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  slavePath_ = name;
  termios tio{};
  tcgetattr(slave_, &tio);
  cfmakeraw(&tio);
  tcsetattr(slave_, TCSANOW, &tio);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
  CloseMaster();
  if (slave_ >= 0) ::close(slave_);
}

void PtyPair::WriteMaster(const std::vector<std::uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else {
      pollfd out{master_, POLLOUT, 0};
      if (poll(&out, 1, 5000) <= 0) throw std::runtime_error("pty master not writable");
    }
  }
}

std::vector<std::uint8_t> PtyPair::ReadMaster(std::size_t count, int timeoutMs) {
  std::vector<std::uint8_t> bytes;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (bytes.size() < count) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd in{master_, POLLIN, 0};
    if (poll(&in, 1, static_cast<int>(left.count())) <= 0) continue;
    std::uint8_t chunk[4096];
    const ssize_t n = ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
    if (n > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    if (n < 0 && errno != EAGAIN) break;
  }
  return bytes;
}

termios PtyPair::SlaveSettings() const {
  termios tio{};
  tcgetattr(slave_, &tio);
  return tio;
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

bool WaitUntil(const std::function<bool()>& done, bool pumpEvents, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (pumpEvents) PumpEvents();
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void PumpFor(int ms) {
  WaitUntil([] { return false; }, true, ms);
}

}  // namespace vorsal::test
