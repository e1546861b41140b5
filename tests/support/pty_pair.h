// A pseudo-terminal pair for tests that drive a serial port: the code under
// test opens the slave by its path, the test plays the far end on the master.
#pragma once

#include <termios.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vorsal::test {

class PtyPair {
 public:
  // Both ends raw; the master is non-blocking. The pair keeps its own slave
  // descriptor open, so the slave stays usable between opens by the code
  // under test.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }
  int Slave() const { return slave_; }

  void WriteMaster(const std::vector<std::uint8_t>& bytes);
  // Reads from the master until `count` bytes came or `timeoutMs` passed.
  std::vector<std::uint8_t> ReadMaster(std::size_t count, int timeoutMs = 5000);
  // The slave's line settings, as whoever opened the slave left them.
  termios SlaveSettings() const;
  // Hangs the slave up, as unplugging an adapter does.
  void CloseMaster();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

// Pumps the calling thread's events (PumpEvents, when `pumpEvents`) until
// `done` holds or `timeoutMs` passed; returns whether it holds.
bool WaitUntil(const std::function<bool()>& done, bool pumpEvents = true, int timeoutMs = 5000);
// Pumps events for `ms` milliseconds: gives something that must not
// happen the chance to show.
void PumpFor(int ms);

}  // namespace vorsal::test
