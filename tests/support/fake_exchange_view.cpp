#include "support/fake_exchange_view.h"

#include <algorithm>

namespace vorsal::testing {

ModemFrame ValidReply(std::uint8_t command, std::uint8_t d4, std::uint8_t d5, std::uint8_t d6, std::uint8_t d7,
                      int connectionType) {
  ModemFrame frame{0, 0, 0, command, d4, d5, d6, d7};
  PutFrameCrc(frame.data(), connectionType);
  return frame;
}

namespace {

const char* GaugeColorName(GaugeColor color) {
  switch (color) {
    case GaugeColor::White: return "White";
    case GaugeColor::Black: return "Black";
    case GaugeColor::Yellow: return "Yellow";
    case GaugeColor::Green: return "Green";
    case GaugeColor::Maroon: return "Maroon";
    case GaugeColor::BtnFace: return "BtnFace";
  }
  return "?";
}

}  // namespace

void FakeExchangeView::ParamsRead(const ParamsReply& reply) {
  params = reply;
  log.push_back("params " + std::to_string(reply.address) + (reply.serviceNetwork ? " service " : " working ") +
                std::to_string(reply.firmwareMajor) + "." + std::to_string(reply.firmwareMinor));
}

void FakeExchangeView::AddressWritten(const AddressReply& reply) {
  address = reply;
  log.push_back("address " + std::to_string(reply.address) + (reply.serviceNetwork ? " service" : " working"));
}

void FakeExchangeView::FootprintRead(const KeyFootprint& reply) {
  footprint = reply;
  char text[FootprintTextSize];
  log.push_back("footprint " + std::string(FormatFootprint(reply, text)));
}

void FakeExchangeView::KeyPartAcknowledged(int part) {
  keyAcks.push_back(part);
  log.push_back("keyAck " + std::to_string(part));
}

void FakeExchangeView::ShowByteCountPanel(int count) {
  byteCount = count;
  log.push_back("status 0 " + std::to_string(count));
}

void FakeExchangeView::ShowPortPanel(bool open) {
  portOpen = open;
  log.push_back(open ? "status 1 open" : "status 1 closed");
}

void FakeExchangeView::ShowExchangePanel(std::uint8_t state) {
  exchangeShown = state;
  log.push_back("status 2 " + std::to_string(state));
}

void FakeExchangeView::SetGaugeMaximum(int maximum) {
  gaugeMaximum = maximum;
  log.push_back("maximum " + std::to_string(maximum));
}

void FakeExchangeView::SetGaugeProgress(int progress) {
  gaugeProgress = progress;
  log.push_back("progress " + std::to_string(progress));
}

void FakeExchangeView::SetGaugeColors(GaugeColor background, GaugeColor foreground) {
  gaugeBackground = background;
  gaugeForeground = foreground;
  log.push_back(std::string("colors ") + GaugeColorName(background) + " " + GaugeColorName(foreground));
}

void FakeExchangeView::SetGaugeTimerEnabled(bool enabled) {
  gaugeTimerEnabled = enabled;
  log.push_back(enabled ? "timer on" : "timer off");
}

std::vector<std::string> FakeExchangeView::Logged(std::string_view prefix) const {
  std::vector<std::string> found;
  for (const std::string& entry : log)
    if (entry.starts_with(prefix)) found.push_back(entry);
  return found;
}

void FakeModemPort::Receive(const std::uint8_t* data, std::size_t length) {
  input.insert(input.end(), data, data + length);
}

int FakeModemPort::Read(std::uint8_t* buffer, int count) {
  readRequests.push_back(count);
  if (failReads) throw FakePortError("read failed");
  if (!connected) throw FakePortError("port not open");
  const int n = std::min({count, readLimit, static_cast<int>(input.size())});
  std::copy_n(input.begin(), n, buffer);
  input.erase(input.begin(), input.begin() + n);
  return n;
}

int FakeModemPort::Write(const std::uint8_t* buffer, int count) {
  if (failWrites) throw FakePortError("write failed");
  if (!connected) throw FakePortError("port not open");
  const int n = std::min(count, writeLimit);
  written.insert(written.end(), buffer, buffer + n);
  return n;
}

}  // namespace vorsal::testing
