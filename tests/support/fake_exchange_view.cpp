#include "support/fake_exchange_view.h"

#include <algorithm>

namespace vorsal::testing {

ModemFrame ValidReply(std::uint8_t command, std::uint8_t d4, std::uint8_t d5, std::uint8_t d6,
                      std::uint8_t d7) {
  ModemFrame frame{0, 0, 0, command, d4, d5, d6, d7};
  PutFrameCrc(frame.data());
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

void FakeExchangeView::SetAddressText(std::string_view text) {
  addressText = text;
  log.push_back("address " + addressText);
}

void FakeExchangeView::SetNetworkBoxes(bool service) {
  serviceNetwork = service;
  log.push_back(service ? "network service" : "network working");
}

void FakeExchangeView::SetVersionText(std::string_view text) {
  versionText = text;
  log.push_back("version " + versionText);
}

void FakeExchangeView::SetFootprintText(std::string_view text) {
  footprintText = text;
  log.push_back("footprint " + footprintText);
}

void FakeExchangeView::SetNewAddress(int value) {
  newAddress = std::clamp(value, newAddressMin, newAddressMax);
  log.push_back("newAddress " + std::to_string(newAddress));
}

void FakeExchangeView::ShowParametersPanels(bool keyPanel) {
  middlePanelShown = true;
  keyPanelShown = keyPanel;
  log.push_back(keyPanel ? "panels middle+bottom" : "panels middle");
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

void FakeExchangeView::SetStatusText(int panel, std::string_view text) {
  if (panel < 0 || panel > 2) throw std::out_of_range("status panel " + std::to_string(panel));
  status[panel] = text;
  log.push_back("status " + std::to_string(panel) + " " + status[panel]);
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
  written.insert(written.end(), buffer, buffer + count);
  return count;
}

}  // namespace vorsal::testing
