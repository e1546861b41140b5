#include "window/main_window_model.h"

#include "app/command_line.h"
#include "app/identity.h"
#include "app/program_paths.h"
#include "keys/cp1251.h"
#include "keys/key_derivation.h"
#include "keys/key_store.h"
#include "window/port_failure.h"
#include "window/texts.h"

#include <algorithm>
#include <chrono>
#include <exception>

namespace vorsal {

namespace {

// Key-name characters that the keypad plus key appends.
bool IsKeyNameChar(int code) {
  return (code >= '0' && code <= '9') || (code >= 'A' && code <= 'Z') || (code >= 'a' && code <= 'z');
}

// A whole decimal number, optionally signed, with blanks around it.
std::optional<int> ParseInteger(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
  return ParseWholeNumber(text);
}

// Shows the busy cursor for as long as it lives.
class BusyCursor {
 public:
  explicit BusyCursor(WindowSurface& surface) : surface_(surface) { surface_.SetBusyCursor(true); }
  ~BusyCursor() { surface_.SetBusyCursor(false); }
  BusyCursor(const BusyCursor&) = delete;
  BusyCursor& operator=(const BusyCursor&) = delete;

 private:
  WindowSurface& surface_;
};

}  // namespace

std::string CurrentExceptionMessage() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "Unknown error";
  }
}

MainWindowModel::MainWindowModel(WindowSurface& surface, TComPort& comPort,
                                 std::function<std::vector<std::string>()> keyNames)
    : Engine(*this, *this, [this] { return connectionType_; }, this, [this](int ms) { surface_.Sleep(ms); }),
      surface_(surface),
      comPort_(comPort),
      keyNames_(std::move(keyNames)),
      keyFile_(KeyStorePath()) {
  if (!keyNames_) keyNames_ = [this] { return KeyStoreNames(keyFile_); };
}

MainWindowModel::~MainWindowModel() = default;

void MainWindowModel::Create() {
  Engine.InitGauge();
  NewNetworkClick();
  Engine.SetExchangeState(0);
  Engine.ShowStatus();
  ShowTitle();
  std::vector<std::string> names;
  for (const std::string& name : keyNames_()) names.push_back(Cp1251ToUtf8(name));
  surface_.SetKeyList(names);
  ClearModemDisplays();
  FitClientHeight();
  random_.seed(static_cast<std::mt19937::result_type>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count()));
}

// ---------------------------------------------------------------------------
// Port choice, opening and closing.

void MainWindowModel::PortListDropDown() {
  comPort_.UpdatePortList();
  const std::vector<std::string>& ports = comPort_.PortList();
  // The open port stays shown (the list closed with Esc or a click outside
  // must not blank the choice of a port still in use); otherwise nothing is
  // selected until an item is picked.
  int selected = -1;
  if (comPort_.Connected()) {
    const auto found = std::find(ports.begin(), ports.end(), comPort_.Port());
    if (found != ports.end()) selected = static_cast<int>(found - ports.begin());
  }
  surface_.SetPortList(ports, selected);
}

void MainWindowModel::PortSelected(const std::string& name) {
  CloseModemPort();
  OpenModemPort(name);
}

void MainWindowModel::ConnectionTypeSelected(int index, const std::string& portName) {
  connectionType_ = index;
  PortSelected(portName);
}

void MainWindowModel::OpenModemPort(const std::string& name) {
  BusyCursor hourglass(surface_);
  bool opened = false;
  std::string failure;  // the reason and the advice when the port did not open
  try {
    SetModemLine(comPort_, name, connectionType_);
    comPort_.Open();
    opened = true;
  } catch (const EComPort& e) {
    failure = DescribePortOpenFailure(comPort_.Port(), e.SystemCode(), e.what());
  } catch (...) {
    failure = CurrentExceptionMessage();
  }
  if (opened) {
    ++openGeneration_;
    ShowTitle();
    ClearModemDisplays();
  } else {
    std::string text = texts::PortOpenFailedPrefix + comPort_.Port() + ")";
    if (!failure.empty()) text += "\n\n" + failure;
    ShowError(text);
  }
  ShowPortState(opened);
}

// The panels, height and status bar after an open; without an open port
// (failed or lost) also no port chosen.
void MainWindowModel::ShowPortState(bool open) {
  if (!open) surface_.ClearPortSelection();
  SetPanelVisible(WindowPanel::Bottom, false);
  SetPanelVisible(WindowPanel::Middle, false);
  SetPanelVisible(WindowPanel::Top, open);
  FitClientHeight();
  Engine.ReceivedByteCount = 0;
  Engine.SetExchangeState(0);
  Engine.ShowStatus();
}

void MainWindowModel::CloseModemPort() {
  comPort_.Close();
  Engine.ShowStatus();
  surface_.Sleep(PortCloseWaitMs);
}

// The port component reports a lost device (adapter unplugged): once the
// report's hand-over has returned (unless the port has been reopened in the
// meantime) the port is closed, the window returns to its state before the
// port was chosen (no reading of the lost modem, no reply awaited, no port in
// the title), and the user is told how to go on.
void MainWindowModel::PortError(unsigned errors) {
  if ((errors & ErrorBit(ceIO)) == 0) return;
  const unsigned generation = openGeneration_;
  surface_.Post([this, generation] {
    if (generation != openGeneration_) return;
    const std::string lost = comPort_.Port();
    try {
      CloseModemPort();
    } catch (...) {
      ShowError(CurrentExceptionMessage());
    }
    // The reply awaited from the lost modem is no longer supervised: its
    // time-out would otherwise fail an exchange that no longer exists.
    Engine.InitGauge();
    ClearModemDisplays();
    ShowPortState(false);
    // No port is chosen any more, so the title names none.
    comPort_.SetPort({});
    ShowTitle();
    ShowError(DescribePortLost(lost));
  });
}

void MainWindowModel::ShowTitle() { surface_.SetTitle(AppTitle + " [" + comPort_.Port() + "]"); }

void MainWindowModel::ClearModemDisplays() {
  surface_.SetDisplayText(WindowDisplay::Version, texts::NotReadPlaceholder);
  currentAddress_.reset();
  surface_.SetDisplayText(WindowDisplay::Address, texts::NotReadPlaceholder);
  currentServiceNetwork_ = false;
  surface_.SetNetworkBoxes(false, false);
  surface_.SetDisplayText(WindowDisplay::Footprint, texts::NotReadPlaceholder);
  surface_.ClearKeyBox();
}

// ---------------------------------------------------------------------------
// Panels and height.

void MainWindowModel::SetPanelVisible(WindowPanel panel, bool visible) {
  if (panel == WindowPanel::Top) topShown_ = visible;
  if (panel == WindowPanel::Middle) middleShown_ = visible;
  if (panel == WindowPanel::Bottom) bottomShown_ = visible;
  surface_.SetPanelVisible(panel, visible);
}

// The client area holds exactly the shown panels; without the current
// parameters panel it keeps IdleHeightReserve of empty room as well.
void MainWindowModel::FitClientHeight() {
  int height = surface_.PanelHeight(WindowPanel::Tools) + surface_.PanelHeight(WindowPanel::ProgressBar) +
               surface_.PanelHeight(WindowPanel::StatusBar);
  height += topShown_ ? surface_.PanelHeight(WindowPanel::Top) : IdleHeightReserve;
  if (middleShown_) height += surface_.PanelHeight(WindowPanel::Middle);
  if (bottomShown_) height += surface_.PanelHeight(WindowPanel::Bottom);
  surface_.SetClientHeight(height);
}

void MainWindowModel::ShowParametersPanels(bool keyPanel) {
  SetPanelVisible(WindowPanel::Middle, true);
  SetPanelVisible(WindowPanel::Bottom, keyPanel);
  FitClientHeight();
}

// ---------------------------------------------------------------------------
// Commands.

void MainWindowModel::ReadParamsClick() {
  const ModemFrame request = BuildReadParams();
  ClearModemDisplays();
  Engine.SendFrame(request, RequestPauseMs);
}

void MainWindowModel::WriteAddressClick() {
  std::string detail;
  try {
    if (currentAddress_) {
      const int currentNetwork = currentServiceNetwork_ ? NetworkService : NetworkWorking;
      const ModemFrame request = BuildSetAddress(AddressWord(*currentAddress_, currentNetwork),
                                                 AddressWord(NewAddress(), surface_.NewNetworkIndex()));
      Engine.SendFrame(request, RequestPauseMs);
      return;
    }
  } catch (...) {
    detail = CurrentExceptionMessage();
  }
  ShowError(texts::CurrentParamsInvalid, detail);
}

// The working network has no address 0: its choice raises the input's
// minimum to 1 (a shown 0 becomes 1); a value at or above the minimum stays.
void MainWindowModel::NewNetworkClick() {
  const int value = NewAddress();
  newAddressMinimum_ = LowestAddress(surface_.NewNetworkIndex() == 0 ? NetworkService : NetworkWorking);
  surface_.SetNewAddressRange(newAddressMinimum_, MaxAddress);
  if (value < newAddressMinimum_) surface_.SetNewAddress(newAddressMinimum_);
}

int MainWindowModel::NewAddressMinimum() const { return newAddressMinimum_; }

int MainWindowModel::NewAddress() const {
  const std::optional<int> typed = ParseInteger(surface_.NewAddressText());
  if (!typed) return newAddressMinimum_;
  return std::clamp(*typed, newAddressMinimum_, MaxAddress);
}

void MainWindowModel::ReadFootprintClick() {
  const ModemFrame request = BuildReadFootprint();
  surface_.SetDisplayText(WindowDisplay::Footprint, texts::NotReadPlaceholder);
  Engine.SendFrame(request, RequestPauseMs);
}

// Derives (or looks up) the key, then writes it into the modem unless the
// computation was cancelled. A name that Windows-1251 cannot hold is refused
// before either dialog opens: it would hash to another key; so is an empty
// name.
void MainWindowModel::WriteKeyClick() {
  if (!surface_.KeyDialogsReady()) return;
  // A key dialog already open is at work on BinaryKey: a second command
  // would zero it under the running one.
  if (surface_.KeyDialogOpen()) return;
  std::string error;
  const std::optional<std::string> keyName = KeyNameFromUtf8(surface_.KeyText(), &error);
  if (!keyName) {
    ShowError(texts::KeyNameNotCp1251, error);
    return;
  }
  // An empty name would write the all-zero key: a reading that emptied the
  // key box must never turn into a key written into the modem.
  if (keyName->empty()) {
    ShowError(texts::KeyNameEmpty);
    return;
  }
  // A stop during the computation leaves the modem untouched; one during
  // the transfer lets it end first.
  if (surface_.RunKeyComputation() && !stopping_) surface_.RunKeyTransfer();
  if (stopping_) surface_.CloseWindow();
}

void MainWindowModel::StopRequested() {
  stopping_ = true;
  // With a key dialog open, WriteKeyClick closes the window once it ends.
  if (!surface_.KeyDialogOpen()) surface_.CloseWindow();
}

void MainWindowModel::HelpClick() {
  const std::string path = HelpFileText();
  if (path.empty()) return ShowError(texts::HelpFileMissing);
  // No browser (or none that takes the file): the user is told where the
  // guide is, to open it by hand.
  if (!surface_.OpenDocument(path)) HelpNotOpened(path);
}

void MainWindowModel::HelpNotOpened(const std::string& path) {
  ShowError(std::string(texts::HelpNotOpened) + "\n\n" + path);
}

void MainWindowModel::KeyStored(KeyStoring outcome, const std::string& keyName, const std::string& storeError) {
  switch (outcome) {
    case KeyStoring::NotStorable:
      // The key goes to the modem but not into Keys.ini.
      ShowError(texts::KeyNameNotStored);
      break;
    case KeyStoring::Failed:
      // The user asked for the key in the modem: a cache that cannot be kept
      // stops nothing.
      ShowError(std::string(texts::KeyNotCached) + "\n\n" + storeError);
      break;
    case KeyStoring::Stored:
    case KeyStoring::KeptOther:
      surface_.AddKeyName(Cp1251ToUtf8(keyName));
      break;
    case KeyStoring::NotTried:
      break;
  }
}

bool MainWindowModel::KeyTransferEnded(KeyTransferResult result) {
  if (result == KeyTransferResult::NotAcknowledged) ShowError(texts::KeyTransferFailed);
  return result != KeyTransferResult::Cancelled && result != KeyTransferResult::PortClosed;
}

void MainWindowModel::ShowError(const std::string& text, const std::string& detail) {
  surface_.ShowError(text, detail);
}

// ---------------------------------------------------------------------------
// Keyboard.

bool MainWindowModel::KeyDown(WindowKey key, bool modifierDown, bool keyBoxActive) {
  switch (key) {
    case WindowKey::KeypadPlus:
      if (!keyBoxActive) return false;
      AppendRandomKeyChar();
      surface_.DiscardPendingKeys();
      return true;
    case WindowKey::F1:
      HelpClick();
      return false;
    case WindowKey::Equal:
      if (modifierDown || !keyBoxActive) return false;
      surface_.DiscardPendingKeys();
      return true;
    case WindowKey::Other:
      break;
  }
  return false;
}

void MainWindowModel::AppendRandomKeyChar() {
  std::uniform_int_distribution<int> draw(0, 127);
  int code = draw(random_);
  while (!IsKeyNameChar(code)) code = draw(random_);
  surface_.SetKeyText(surface_.KeyText() + static_cast<char>(code));
}

// ---------------------------------------------------------------------------
// ReplyListener.

void MainWindowModel::SetNetworkBoxes(bool serviceNetwork) {
  currentServiceNetwork_ = serviceNetwork;
  surface_.SetNetworkBoxes(serviceNetwork, !serviceNetwork);
}

void MainWindowModel::ParamsRead(const ParamsReply& params) {
  SetNetworkBoxes(params.serviceNetwork);
  currentAddress_ = params.address;
  surface_.SetDisplayText(WindowDisplay::Address, std::to_string(params.address));
  std::string version = std::to_string(params.firmwareMajor) + "." + std::to_string(params.firmwareMinor);
  const std::string_view platform = FirmwarePlatformName(params.firmwareMajor);
  if (!platform.empty()) version += " -- '" + std::string(platform) + "'";
  surface_.SetDisplayText(WindowDisplay::Version, version);
  ShowParametersPanels(OffersKeyFunctions(params));
}

void MainWindowModel::AddressWritten(const AddressReply& reply) {
  currentAddress_ = reply.address;
  surface_.SetDisplayText(WindowDisplay::Address, std::to_string(reply.address));
  SetNetworkBoxes(reply.serviceNetwork);
  // The input keeps its value within its bounds (4095 stays).
  if (surface_.AutoIncrement()) surface_.SetNewAddress(std::min(NewAddress() + 1, MaxAddress));
}

void MainWindowModel::FootprintRead(const KeyFootprint& footprint) {
  char text[FootprintTextSize];
  surface_.SetDisplayText(WindowDisplay::Footprint, FormatFootprint(footprint, text));
}

// ---------------------------------------------------------------------------
// SupervisionView.

void MainWindowModel::ShowByteCountPanel(int count) {
  surface_.SetStatusText(StatusPanel::ByteCount, std::string(ByteCountText) + std::to_string(count));
}

void MainWindowModel::ShowPortPanel(bool open) {
  surface_.SetStatusText(StatusPanel::Port, open ? PortOpenText : PortClosedText);
}

void MainWindowModel::ShowExchangePanel(std::uint8_t state) {
  std::string_view text;
  if (state == ExchangeOk) text = ExchangeOkText;
  if (state == ExchangeError) text = ExchangeErrorText;
  surface_.SetStatusText(StatusPanel::Exchange, text);
}

// The gauge's progress stays within 0..maximum, as a bar can show it.
void MainWindowModel::SetGaugeMaximum(int maximum) {
  gaugeMaximum_ = std::max(maximum, 0);
  gaugeProgress_ = std::clamp(gaugeProgress_, 0, gaugeMaximum_);
  surface_.SetGaugeMaximum(gaugeMaximum_);
}

void MainWindowModel::SetGaugeProgress(int progress) {
  gaugeProgress_ = std::clamp(progress, 0, gaugeMaximum_);
  surface_.SetGaugeProgress(gaugeProgress_);
}

void MainWindowModel::SetGaugeColors(GaugeColor background, GaugeColor foreground) {
  surface_.SetGaugeColors(background, foreground);
}

void MainWindowModel::SetGaugeTimerEnabled(bool enabled) { surface_.SetGaugeTimerEnabled(enabled); }

// ---------------------------------------------------------------------------
// ModemPort.

bool MainWindowModel::Connected() const { return comPort_.Connected(); }
int MainWindowModel::Read(std::uint8_t* buffer, int count) { return comPort_.Read(buffer, count); }
int MainWindowModel::Write(const std::uint8_t* buffer, int count) { return comPort_.Write(buffer, count); }

}  // namespace vorsal
