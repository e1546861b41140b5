// Recording stand-ins for the main window and the serial port as the
// exchange engine sees them, plus a builder of checksum-valid replies.
// FakeExchangeView keeps what the engine reported and a log of every call
// in order; FakeModemPort queues bytes "from the modem" and keeps
// every byte written. EngineRig wires them to an engine of its own
// connection type.
#pragma once

#include <cstdint>
#include <deque>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "protocol/exchange_engine.h"
#include "protocol/exchange_view.h"
#include "protocol/frame.h"

namespace vorsal::testing {

// A reply with the given command and data bytes and a valid checksum for
// the connection type.
ModemFrame ValidReply(std::uint8_t command, std::uint8_t d4 = 0, std::uint8_t d5 = 0, std::uint8_t d6 = 0,
                      std::uint8_t d7 = 0, int connectionType = 0);

// Records what the engine reports: the replies' values and the gauge and
// status panels as the window would be told them.
class FakeExchangeView : public ReplyListener, public SupervisionView {
 public:
  // The last reply of each kind, and every acknowledged key part.
  std::optional<ParamsReply> params;
  std::optional<AddressReply> address;
  std::optional<KeyFootprint> footprint;
  std::vector<int> keyAcks;

  // Gauge and its timer, as a freshly created window has them.
  int gaugeMaximum = 100;
  int gaugeProgress = 0;
  GaugeColor gaugeBackground = GaugeColor::White;
  GaugeColor gaugeForeground = GaugeColor::Black;
  bool gaugeTimerEnabled = false;

  // Status panels: byte count, port open, exchange state shown.
  int byteCount = -1;
  std::optional<bool> portOpen;
  std::optional<std::uint8_t> exchangeShown;

  // Every call, e.g. "params 2603 working 8.29", "status 2 1", "colors BtnFace Green".
  std::vector<std::string> log;

  void ParamsRead(const ParamsReply& reply) override;
  void AddressWritten(const AddressReply& reply) override;
  void FootprintRead(const KeyFootprint& reply) override;
  void KeyPartAcknowledged(int part) override;

  void ShowByteCountPanel(int count) override;
  void ShowPortPanel(bool open) override;
  void ShowExchangePanel(std::uint8_t state) override;
  void SetGaugeMaximum(int maximum) override;
  int GaugeMaximum() const override { return gaugeMaximum; }
  void SetGaugeProgress(int progress) override;
  int GaugeProgress() const override { return gaugeProgress; }
  void SetGaugeColors(GaugeColor background, GaugeColor foreground) override;
  void SetGaugeTimerEnabled(bool enabled) override;

  // Log entries that start with `prefix`, in order.
  std::vector<std::string> Logged(std::string_view prefix) const;
};

// What FakeModemPort throws when told to fail, like the port's own error.
struct FakePortError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class FakeModemPort : public ModemPort {
 public:
  bool connected = true;
  std::deque<std::uint8_t> input;    // bytes waiting to be read
  std::vector<std::uint8_t> written; // every byte written, in order
  int readLimit = std::numeric_limits<int>::max();  // most bytes one Read delivers
  int writeLimit = std::numeric_limits<int>::max();  // most bytes one Write takes
  bool failReads = false;
  bool failWrites = false;
  std::vector<int> readRequests;     // `count` of every Read call

  // Queues bytes as if the modem had sent them.
  void Receive(const std::uint8_t* data, std::size_t length);
  void Receive(const ModemFrame& frame) { Receive(frame.data(), frame.size()); }
  void Receive(const std::vector<std::uint8_t>& bytes) { Receive(bytes.data(), bytes.size()); }

  bool Connected() const override { return connected; }
  int Read(std::uint8_t* buffer, int count) override;
  int Write(const std::uint8_t* buffer, int count) override;
};

// An engine wired to a fake view and port; its pauses are recorded, not
// slept, and its connection type is read from `connectionType`.
struct EngineRig {
  FakeExchangeView view;
  FakeModemPort port;
  std::vector<int> sleeps;
  int connectionType = 0;
  ExchangeEngine engine{view, port, [this] { return connectionType; }, &view, [this](int ms) { sleeps.push_back(ms); }};

  // Bytes arrive from the modem and the port raises its event.
  template <typename... Bytes>
  void Arrive(const Bytes&... bytes) {
    (port.Receive(bytes), ...);
    engine.CommPortRxChar();
  }
  // Bytes arrive and the next receive tick runs.
  template <typename... Bytes>
  void ArriveAndTick(const Bytes&... bytes) {
    Arrive(bytes...);
    engine.TimerRXTimer();
  }
};

}  // namespace vorsal::testing
