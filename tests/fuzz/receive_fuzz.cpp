// The receive path over any byte stream in any chunk sizes: the fuzzer's bytes
// are a script of arrivals (raw bytes, noise, valid or spoiled frames, frame
// heads), received-characters events and receive ticks, played against the
// exchange engine through a port that hands out what has arrived, a chosen
// number of bytes per read at most; the port can also close, open again and
// fail a read.
//
// After every tick the frames dispatched so far must be exactly those the
// oracle cuts from the bytes the engine has taken from the port, in order,
// each once, and the engine's frame window must hold the oracle's leftover
// bytes; at the end, with everything taken, the same holds for the whole
// stream. Frames are dispatched in ticks only, never in an event.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "protocol/exchange_engine.h"
#include "protocol/frame.h"
#include "support/null_exchange_view.h"

namespace {

using vorsal::ExchangeEngine;

// Records the frame window each time the engine reports a dispatch (it
// redraws the byte count right after handling a reply).
class RecordingView : public vorsal::testing::NullExchangeView {
 public:
  const ExchangeEngine* engine = nullptr;
  bool inTick = false;
  std::vector<std::vector<std::uint8_t>> dispatched;

  void ShowByteCountPanel(int) override {
    FUZZ_CHECK(inTick, "a frame was dispatched outside a receive tick");
    FUZZ_CHECK(engine->FrameWindowCount == 0, "frame window not emptied on dispatch");
    dispatched.emplace_back(engine->FrameWindow, engine->FrameWindow + vorsal::FrameSize);
  }
};

struct ReadFailure {};

class QueuePort : public vorsal::ModemPort {
 public:
  std::deque<std::uint8_t> waiting;
  std::size_t taken = 0;
  int perReadLimit = 0;  // 0: no limit
  bool connected = true;
  bool failNextRead = false;  // the next read throws, as a port whose adapter was pulled

  bool Connected() const override { return connected; }
  int Write(const std::uint8_t*, int count) override { return count; }
  int Read(std::uint8_t* buffer, int count) override {
    if (failNextRead) {
      failNextRead = false;
      throw ReadFailure();
    }
    if (count < 0 || count > vorsal::RxReadChunk) fuzz::Fail("read asks for a bad count", std::to_string(count));
    int n = 0;
    while (n < count && !waiting.empty() && (perReadLimit == 0 || n < perReadLimit)) {
      buffer[n++] = waiting.front();
      waiting.pop_front();
    }
    taken += static_cast<std::size_t>(n);
    return n;
  }
};

struct Run {
  int connectionType = 0;
  RecordingView view;
  QueuePort port;
  ExchangeEngine engine{view, port, [this] { return connectionType; }, &view, [](int) {}};
  std::vector<std::uint8_t> stream;  // every byte that arrived, in order
  fuzz::StreamCutter cutter{0};
  std::uint32_t noise = 0x9E3779B9;
  std::size_t compared = 0;  // dispatched frames already checked

  void Arrive(const std::uint8_t* bytes, std::size_t n) {
    stream.insert(stream.end(), bytes, bytes + n);
    port.waiting.insert(port.waiting.end(), bytes, bytes + n);
  }

  // The port raises events only while it is open; a failed read reaches the
  // event's caller.
  void Event() {
    if (!port.connected) return;
    try {
      engine.CommPortRxChar();
    } catch (const ReadFailure&) {
    }
    CheckIndexes();
  }

  void Tick() {
    view.inTick = true;
    engine.TimerRXTimer();
    view.inTick = false;
    CheckIndexes();
    CheckAgainstOracle();
  }

  void CheckIndexes() const {
    FUZZ_CHECK(engine.RxReadIndex >= 0 && engine.RxReadIndex < vorsal::RxRingSize &&
                    engine.RxWriteIndex >= 0 && engine.RxWriteIndex < vorsal::RxRingSize,
                "ring index out of range");
    if (engine.FrameWindowCount < 0 || engine.FrameWindowCount >= 8) {
      fuzz::Fail("frame window count out of range", std::to_string(engine.FrameWindowCount));
    }
    if (static_cast<std::size_t>(engine.ReceivedByteCount) != port.taken) {
      fuzz::Fail("byte count differs from the bytes read",
                 std::to_string(engine.ReceivedByteCount) + " vs " + std::to_string(port.taken));
    }
  }

  // A tick drains the ring, so everything taken from the port has gone
  // through the frame window.
  void CheckAgainstOracle() {
    FUZZ_CHECK(engine.RxReadIndex == engine.RxWriteIndex, "a tick left bytes in the ring");
    cutter.Advance(stream, port.taken);
    const auto& expected = cutter.frames;
    const auto& got = view.dispatched;
    for (std::size_t i = compared; i < expected.size() && i < got.size(); ++i) {
      if (expected[i] != got[i]) {
        fuzz::Fail("dispatched frame differs", "frame " + std::to_string(i) + " at stream offset " +
                                                   std::to_string(cutter.frameStarts[i]) + ": expected " +
                                                   fuzz::Hex(expected[i].data(), 8) + " got " +
                                                   fuzz::Hex(got[i].data(), 8));
      }
    }
    if (expected.size() != got.size()) {
      fuzz::Fail("wrong number of frames dispatched", "expected " + std::to_string(expected.size()) + ", got " +
                                                          std::to_string(got.size()) + " after " +
                                                          std::to_string(port.taken) + " bytes");
    }
    compared = got.size();
    const std::size_t from = cutter.LeftoverStart();
    const std::size_t count = port.taken - from;
    if (static_cast<std::size_t>(engine.FrameWindowCount) != count ||
        !std::equal(stream.begin() + static_cast<std::ptrdiff_t>(from),
                    stream.begin() + static_cast<std::ptrdiff_t>(port.taken), engine.FrameWindow)) {
      fuzz::Fail("frame window does not hold the bytes after the last frame",
                 "expected " + fuzz::Hex(stream.data() + from, count) + ", holds " +
                     fuzz::Hex(engine.FrameWindow, static_cast<std::size_t>(engine.FrameWindowCount)));
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Input in(data, size);
  const std::uint8_t setup = in.Byte();
  const int connectionType = setup & 1;

  Run run;
  run.view.engine = &run.engine;
  run.connectionType = connectionType;
  run.cutter = fuzz::StreamCutter(connectionType);
  run.port.perReadLimit = setup >> 1;

  std::uint8_t bytes[256 * 8];
  while (!in.Empty()) {
    const std::uint8_t op = in.Byte();
    switch (op & 7) {
      case 0: {  // raw bytes from the input
        const std::string_view raw = in.Take(in.Byte() + 1u);
        run.Arrive(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size());
        break;
      }
      case 1: {  // generated noise, up to 256 bytes
        const std::size_t n = in.Byte() + 1u;
        for (std::size_t i = 0; i < n; ++i) {
          run.noise ^= run.noise << 13;
          run.noise ^= run.noise >> 17;
          run.noise ^= run.noise << 5;
          bytes[i] = static_cast<std::uint8_t>(run.noise);
        }
        run.Arrive(bytes, n);
        break;
      }
      case 2:    // 1..32 valid frames back to back
      case 3:    // one frame with one byte spoiled
      case 4: {  // the first 0..7 bytes of a valid frame
        std::uint8_t body[5];
        for (auto& b : body) b = in.Byte();
        const int copies = (op & 7) == 2 ? (op >> 3) + 1 : 1;
        for (int k = 0; k < copies; ++k) {
          const std::uint8_t data4[4] = {body[1], body[2], body[3], static_cast<std::uint8_t>(body[4] + k)};
          const auto frame = fuzz::Crc().Frame(body[0], data4, connectionType);
          std::copy(frame.begin(), frame.end(), bytes + 8 * k);
        }
        std::size_t n = 8 * static_cast<std::size_t>(copies);
        if ((op & 7) == 3) bytes[(op >> 3) & 7] ^= static_cast<std::uint8_t>((op >> 6) + 1);
        if ((op & 7) == 4) n = (op >> 3) & 7;
        run.Arrive(bytes, n);
        break;
      }
      case 5:
        if ((op >> 3) == 31) {
          run.port.connected = !run.port.connected;  // port closed or opened again
        } else if ((op >> 3) == 30) {
          run.port.failNextRead = true;
        } else {
          run.Event();
        }
        break;
      case 6:
        run.Tick();
        break;
      default:
        run.Event();
        run.Tick();
        break;
    }
  }
  // The port, open again, raises events while bytes wait; then one last tick.
  run.port.connected = true;
  run.port.failNextRead = false;
  for (std::size_t guard = 0; !run.port.waiting.empty(); ++guard) {
    FUZZ_CHECK(guard <= run.stream.size(), "the engine stopped taking bytes from the port");
    run.Event();
    run.Tick();
  }
  run.Tick();
  FUZZ_CHECK(run.port.taken == run.stream.size(), "bytes left in the port");
  return 0;
}
