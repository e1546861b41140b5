// A modem on one port, as the production and the command line talk to it:
// the exchange engine's reply listener and port in one object, with an event
// loop of its own. The port's event thread posts its deliveries to that loop;
// the link runs them while it waits for a reply, so a reply is handled as
// soon as its eight bytes are in.
// Time-outs are deadlines on an injected clock, so tests run them without
// waiting.
#pragma once

#include "protocol/exchange_engine.h"
#include "protocol/exchange_view.h"
#include "protocol/key_transfer.h"
#include "serial/com_port.h"
#include "serial/polled_event_queue.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace vorsal::production {

// How often a wait looks at the abandon request (set from a signal handler,
// which cannot wake the loop).
constexpr int AbandonPollMs = 100;

// The parameters a modem reports.
struct ModemParams {
  int address = -1;
  int network = 0;          // 0 service, 1 working
  std::string firmware;     // "2.31"
  std::string platform;     // the platform's name, empty when the table has none
  bool keyFunctions = false;
};

enum class Outcome {
  Ok,
  NoReply,      // nothing came back within the time-out
  NotAccepted,  // bytes came back, but no reply to this request (a wrong echo, say)
  PortLost,     // the port failed or its device went away
};

// The time the link waits by. The system clock really waits; a test's clock
// moves its time on instead.
class LinkClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~LinkClock() = default;
  virtual TimePoint Now() = 0;
  // Called with `lock` held: returns once `ready()` holds (`wake` is
  // notified then) or `deadline` has come.
  virtual void WaitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, TimePoint deadline,
                         const std::function<bool()>& ready) = 0;
  // A pause in which nothing is handled.
  virtual void Sleep(int ms) = 0;
};

// The steady clock of the system.
LinkClock& SystemClock();

// The link's event loop: port deliveries posted from the event thread run on
// the thread that waits in RunUntil.
class LinkLoop : public PolledEventQueue {
 public:
  explicit LinkLoop(LinkClock& clock) : clock_(clock) {}
  // Runs posted calls until `done()` holds or `deadline` has come; returns
  // `done()`.
  bool RunUntil(LinkClock::TimePoint deadline, const std::function<bool()>& done);

 private:
  LinkClock& clock_;
};

class ModemLink : private ReplyListener, private ModemPort {
 public:
  // `retries`: how often an exchange without reply is repeated. `clock`:
  // null for the system clock.
  explicit ModemLink(int retries = 0, LinkClock* clock = nullptr);
  ~ModemLink() override;
  ModemLink(const ModemLink&) = delete;
  ModemLink& operator=(const ModemLink&) = delete;

  // Opens the device at 600 baud (9600 for connection type 1), 8N1, as the
  // window does. Throws EComPort.
  void Open(const std::string& path, int connectionType);
  void Close();
  bool IsOpen() const { return comPort_.Connected() && !lost_; }
  const std::string& PortError() const { return portError_; }

  // Each exchange first drops what the port still holds (a late reply to an
  // earlier request), then takes only a reply of the kind asked for.
  Outcome ReadParams(ModemParams& params);
  // Writes `newAddress`/`newNetwork` over the modem's `current` word. When
  // the reply is missing or does not fit, the modem is read back: a modem
  // that holds the new word took the write.
  Outcome WriteAddress(const ModemParams& current, int newAddress, int newNetwork);
  Outcome ReadFootprint(std::string& footprint);
  // The eight key parts by SendKeyParts; a part met with silence is sent
  // again, `retries` times, as any other exchange is.
  Outcome SendKey(const std::uint8_t* key32, const std::function<void(int acknowledged)>& progress);

  // While `abandon` holds, an exchange in progress (a key transfer too)
  // ends within AbandonPollMs as NoReply: a second Ctrl+C stops it.
  void SetAbandon(std::function<bool()> abandon) { abandon_ = std::move(abandon); }

  ExchangeEngine& Engine() { return engine_; }

 private:
  enum class Reply { None, Params, Address, Footprint };
  Outcome Exchange(const ModemFrame& frame, Reply expected);
  Outcome ExchangeOnce(const ModemFrame& frame, Reply expected);
  // Runs the loop until `done()` holds or `deadline` comes; false when the
  // wait was abandoned first.
  bool Await(LinkClock::TimePoint deadline, const std::function<bool()>& done);
  bool Abandoned() const;
  // Sends through the engine; false (the port marked lost) when the write failed.
  bool Send(const ModemFrame& frame);
  void PortFailed(const std::string& message);
  LinkClock::TimePoint After(int ms) { return clock_.Now() + std::chrono::milliseconds(ms); }

  // ReplyListener
  void ParamsRead(const ParamsReply& params) override;
  void AddressWritten(const AddressReply& reply) override;
  void FootprintRead(const KeyFootprint& footprint) override;
  void KeyPartAcknowledged(int) override {}

  // ModemPort
  bool Connected() const override { return comPort_.Connected(); }
  int Read(std::uint8_t* buffer, int count) override { return comPort_.Read(buffer, count); }
  int Write(const std::uint8_t* buffer, int count) override { return comPort_.Write(buffer, count); }

  std::function<bool()> abandon_;
  int retries_;
  int connectionType_ = 0;  // of the port opened last: its speed and checksum variant
  LinkClock& clock_;
  LinkLoop loop_;  // outlives the port, whose deliveries it may still hold
  TComPort comPort_;
  ExchangeEngine engine_;
  bool lost_ = false;
  std::string portError_;

  // The reply awaited and what the last one of that kind said.
  Reply expected_ = Reply::None;
  Reply received_ = Reply::None;
  ModemParams params_;
  std::string footprint_;
};

}  // namespace vorsal::production
