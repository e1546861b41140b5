// The receive path runs ten times a second for as long as the program is
// open: handling replies and noise must not allocate memory. This suite
// replaces the global allocation functions of its own executable to count
// every allocation made on the test's thread while the engine works.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <new>
#include <random>
#include <vector>

#include "protocol/exchange_engine.h"
#include "support/fake_exchange_view.h"
#include "support/null_exchange_view.h"

namespace {

thread_local bool countingAllocations = false;
thread_local long allocationCount = 0;

void* Allocate(std::size_t size, std::size_t alignment) {
  if (countingAllocations) ++allocationCount;
  if (size == 0) size = 1;
  void* block = alignment > alignof(std::max_align_t)
                    ? std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment)
                    : std::malloc(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* AllocateOrNull(std::size_t size, std::size_t alignment) noexcept {
  try {
    return Allocate(size, alignment);
  } catch (...) {
    return nullptr;
  }
}

// Allocations made on this thread while it lives.
class AllocationCounter {
 public:
  AllocationCounter() {
    allocationCount = 0;
    countingAllocations = true;
  }
  ~AllocationCounter() { countingAllocations = false; }
  long Count() const { return allocationCount; }
};

}  // namespace

// Every form of the replaceable allocation functions, so that no memory is
// ever released by a different allocator than the one that gave it.
void* operator new(std::size_t size) { return Allocate(size, 0); }
void* operator new[](std::size_t size) { return Allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) { return Allocate(size, static_cast<std::size_t>(a)); }
void* operator new[](std::size_t size, std::align_val_t a) { return Allocate(size, static_cast<std::size_t>(a)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size, 0); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return AllocateOrNull(size, 0); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, static_cast<std::size_t>(a));
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }

namespace vorsal {
namespace {

using testing::LoopPort;
using testing::NullExchangeView;
using testing::ValidReply;

TEST(ReceiveAllocations, RepliesAndNoiseAreHandledWithoutAllocating) {
  std::uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(0x40 + i);
  const ModemFrame setAddress = BuildSetAddress(0x1005, 0x0006);
  const ModemFrame keyPart = BuildKeyPart(3, key);
  struct Step {
    ModemFrame request, reply;
  };
  const Step steps[] = {
      {BuildReadParams(), ValidReply(CmdReadParams, 0x2B, 0x1A, 31, 2, 1)},
      {BuildReadParams(), ValidReply(CmdReadParamsAlt, 0xFF, 0x0F, 5, 40, 1)},  // no platform name
      {BuildReadFootprint(), ValidReply(CmdReadFootprint, 0x01, 0xAB, 0x0C, 0xFF, 1)},
      {setAddress, ValidReply(CmdSetAddress, setAddress[4], setAddress[5], setAddress[6], setAddress[7], 1)},
      {keyPart, ValidReply(CmdKeyPart + 3, keyPart[4], keyPart[5], keyPart[6], keyPart[7], 1)},
  };
  constexpr int StrayBytes = 3;  // before each reply
  constexpr int NoiseBytes = 400;
  std::vector<std::uint8_t> stream;
  for (const Step& step : steps) {
    stream.insert(stream.end(), {0x11, 0x22, 0x33});
    stream.insert(stream.end(), step.reply.begin(), step.reply.end());
  }
  std::mt19937 random(11);
  for (int i = 0; i < NoiseBytes; ++i) stream.push_back(static_cast<std::uint8_t>(random()));

  NullExchangeView view;
  LoopPort port(stream);
  // A source like the window's, read at every checksum.
  int connectionType = 1;
  ExchangeEngine engine(view, port, [&connectionType] { return connectionType; }, &view, [](int) {});
  engine.InitGauge();
  std::uint8_t outcomes[std::size(steps)] = {};
  long allocations = 0;
  {
    const AllocationCounter counter;
    for (std::size_t i = 0; i < std::size(steps); ++i) {
      engine.SendFrame(steps[i].request, 0);
      port.pending = StrayBytes + static_cast<int>(FrameSize);
      engine.CommPortRxChar();
      engine.TimerRXTimer();
      outcomes[i] = engine.ExchangeState;
    }
    for (int i = 0; i < NoiseBytes / 100; ++i) {
      port.pending = 100;
      engine.CommPortRxChar();
      engine.TimerRXTimer();
      engine.TimerGaugeTimer();
    }
    allocations = counter.Count();
  }

  EXPECT_EQ(allocations, 0);
  // Every reply was taken up, not ignored.
  for (std::uint8_t outcome : outcomes) EXPECT_EQ(outcome, ExchangeOk);
  EXPECT_EQ(engine.KeyAckIndex, 3);
  EXPECT_EQ(engine.ReceivedByteCount, static_cast<int>(stream.size()));

  // The counter itself sees allocations made behind the view: the recording
  // view's log allocates for the same reply.
  testing::EngineRig rig;
  rig.connectionType = 1;
  rig.port.Receive(steps[2].reply);
  const AllocationCounter counter;
  rig.engine.CommPortRxChar();
  rig.engine.TimerRXTimer();
  EXPECT_GT(counter.Count(), 0);
  EXPECT_EQ(rig.view.Logged("footprint"), std::vector<std::string>{"footprint FF.0C.AB.01"});
}

}  // namespace
}  // namespace vorsal
