// What the main window model asks of the window that shows it: the toolkit's
// side, which creates the controls, draws what the model says and hands the
// user's input back. Texts are UTF-8; nothing here belongs to a toolkit, so
// any window (Qt, Win32) can implement it.
#pragma once

#include "protocol/exchange_view.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vorsal {

// The stacked parts of the client area, top to bottom.
enum class WindowPanel {
  Tools,        // PanelTools: the port choice
  Top,          // PanelTop: current parameters
  Middle,       // PanelMiddle: new address and network
  Bottom,       // PanelBottom: footprint and key
  ProgressBar,  // PanelProgressBar: the reply gauge
  StatusBar,    // the status bar
};

// The read-only value displays.
enum class WindowDisplay {
  Version,    // LabelVersion
  Address,    // LabelAold
  Footprint,  // LabelFP
};

// The status bar's three panels, left to right.
enum class StatusPanel { ByteCount = 0, Port = 1, Exchange = 2 };

class WindowSurface {
 public:
  virtual ~WindowSurface() = default;

  // Drawing.
  virtual void SetTitle(std::string_view title) = 0;
  virtual void SetPanelVisible(WindowPanel panel, bool visible) = 0;
  virtual int PanelHeight(WindowPanel panel) const = 0;  // the panel's own height, shown or not
  virtual void SetClientHeight(int height) = 0;
  virtual void SetDisplayText(WindowDisplay display, std::string_view text) = 0;
  // CheckBoxNetIdle and CheckBoxNetActive.
  virtual void SetNetworkBoxes(bool service, bool working) = 0;
  virtual void SetStatusText(StatusPanel panel, std::string_view text) = 0;
  virtual void SetGaugeMaximum(int maximum) = 0;
  virtual void SetGaugeProgress(int progress) = 0;
  virtual void SetGaugeColors(GaugeColor background, GaugeColor foreground) = 0;
  virtual void SetGaugeTimerEnabled(bool enabled) = 0;  // the 100 ms gauge timer
  // The port box's items, and which one is selected (-1: none).
  virtual void SetPortList(const std::vector<std::string>& names, int selected) = 0;
  virtual void ClearPortSelection() = 0;
  // The key box: its list, one added name, its text (the caret at the end,
  // nothing selected), and emptied with no list item chosen.
  virtual void SetKeyList(const std::vector<std::string>& names) = 0;
  virtual void AddKeyName(std::string_view name) = 0;
  virtual void SetKeyText(std::string_view text) = 0;
  virtual void ClearKeyBox() = 0;
  // The new-address input: its bounds and its value (always within them).
  virtual void SetNewAddressRange(int minimum, int maximum) = 0;
  virtual void SetNewAddress(int value) = 0;

  // The user's input, read when a command needs it.
  virtual std::string KeyText() const = 0;
  virtual std::string NewAddressText() const = 0;  // as typed, even before the input loses focus
  virtual int NewNetworkIndex() const = 0;         // RadioGroupNewNET: 0 service, 1 working
  virtual bool AutoIncrement() const = 0;          // CheckBoxAutoInc

  // Boxes, dialogs and the rest of the surroundings.
  // A modal error box titled "Error" with one OK button; `detail` (may be
  // empty) is its detailed text.
  virtual void ShowError(std::string_view text, std::string_view detail) = 0;
  // The busy cursor over the whole program, on or off.
  virtual void SetBusyCursor(bool busy) = 0;
  // Blocks the GUI thread (the port-close wait, the pause after a request).
  virtual void Sleep(int ms) = 0;
  // Opens a document with the system's viewer; false when none took it. A
  // failure found later is told through MainWindowModel::HelpNotOpened.
  virtual bool OpenDocument(const std::string& path) = 0;
  // Drops the key press being handled and every key message still queued.
  virtual void DiscardPendingKeys() = 0;
  // Runs `call` on the GUI thread once the current event has been handled;
  // dropped when the window is gone by then.
  virtual void Post(std::function<void()> call) = 0;
  // The two modal key dialogs. KeyDialogsReady: both exist; KeyDialogOpen:
  // one is shown. RunKeyComputation returns true when it ended with OK.
  virtual bool KeyDialogsReady() const = 0;
  virtual bool KeyDialogOpen() const = 0;
  virtual bool RunKeyComputation() = 0;
  virtual void RunKeyTransfer() = 0;
  // Closes the window as its user would, once the current event has been
  // handled.
  virtual void CloseWindow() = 0;
};

}  // namespace vorsal
