// The command line's side of the exchange engine: the engine's view and port
// in one object. What the window shows in labels lands in a small record;
// the gauge's ticks, driven from a loop here, decide the reply time-out.
#pragma once

#include "protocol/exchange_engine.h"
#include "protocol/exchange_view.h"
#include "protocol/key_transfer.h"
#include "serial/com_port.h"

#include <QEventLoop>

#include <cstdint>
#include <functional>
#include <string>

namespace vorsal::cli {

constexpr int TickMs = 100;  // the engine's receive and gauge tick

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
  NotAccepted,  // bytes came back, but no reply the engine accepted (a wrong echo, say)
  PortLost,     // the port failed or its device went away
};

class ModemLink : private ExchangeView, private ModemPort {
 public:
  // `sleep` paces the ticks and the engine's pauses; by default the thread
  // really sleeps. `retries`: how often an exchange without reply is repeated.
  explicit ModemLink(std::function<void(int ms)> sleep = {}, int retries = 0);
  ~ModemLink() override;
  ModemLink(const ModemLink&) = delete;
  ModemLink& operator=(const ModemLink&) = delete;

  // Opens the device at 600 baud (9600 for connection type 1), 8N1, as the
  // window does. Throws EComPort.
  void Open(const std::string& path, int connectionType);
  void Close();
  bool IsOpen() const { return comPort_.Connected() && !lost_; }
  const std::string& PortError() const { return portError_; }

  Outcome ReadParams(ModemParams& params);
  // Writes `newAddress`/`newNetwork` over the modem's `current` word. A reply
  // lost on the way back is told from a write not taken by reading back.
  Outcome WriteAddress(const ModemParams& current, int newAddress, int newNetwork);
  Outcome ReadFootprint(std::string& footprint);
  // The eight key parts by SendKeyParts; a transfer that stops without an
  // acknowledgement is repeated from the first part, `retries` times.
  Outcome SendKey(const std::uint8_t* key32, const std::function<void(int acknowledged)>& progress);

  // While `abandon` holds, an exchange in progress (a key transfer too)
  // ends at once as NoReply: a second Ctrl+C stops it.
  void SetAbandon(std::function<bool()> abandon) { abandon_ = std::move(abandon); }

  // One tick: pending port events, the receive tick, and the gauge tick
  // while a reply is awaited.
  void Tick();
  ExchangeEngine& Engine() { return engine_; }

 private:
  enum class Reply { None, Params, Address, Footprint };
  Outcome Exchange(const ModemFrame& frame, Reply expected);
  Outcome ExchangeOnce(const ModemFrame& frame, Reply expected);
  void PortFailed(const std::string& message);

  // ExchangeView
  void SetAddressText(std::string_view text) override;
  void SetNetworkBoxes(bool serviceNetwork) override;
  void SetVersionText(std::string_view text) override;
  void SetFootprintText(std::string_view text) override;
  bool AutoIncrementChecked() const override { return false; }
  int NewAddress() const override { return 0; }
  void SetNewAddress(int) override {}
  void ShowParametersPanels(bool keyPanel) override;
  void SetGaugeMaximum(int maximum) override { gaugeMaximum_ = maximum; }
  int GaugeMaximum() const override { return gaugeMaximum_; }
  void SetGaugeProgress(int progress) override { gaugeProgress_ = progress; }
  int GaugeProgress() const override { return gaugeProgress_; }
  void SetGaugeColors(GaugeColor, GaugeColor) override {}
  void SetGaugeTimerEnabled(bool enabled) override { gaugeRunning_ = enabled; }
  void SetStatusText(int, std::string_view) override {}

  // ModemPort
  bool Connected() const override { return comPort_.Connected(); }
  int Read(std::uint8_t* buffer, int count) override { return comPort_.Read(buffer, count); }
  int Write(const std::uint8_t* buffer, int count) override { return comPort_.Write(buffer, count); }

  std::function<void(int)> sleep_;
  std::function<bool()> abandon_;
  int retries_;
  // Gives the creating thread an event dispatcher, so a link made on a
  // thread of its own receives its port's events there.
  QEventLoop events_;
  TComPort comPort_;
  ExchangeEngine engine_;
  int gaugeMaximum_ = IdleGaugeMaximum;
  int gaugeProgress_ = 0;
  bool gaugeRunning_ = false;
  bool lost_ = false;
  std::string portError_;

  // What the last accepted reply showed.
  Reply reply_ = Reply::None;
  ModemParams params_;
  std::string footprint_;
};

}  // namespace vorsal::cli
