// The program's main window on the Win32 API: the dialog templates of the
// resource script (the window and its four stacked panels), the gauge, the
// status bar, the menu and the two timers. It hands the user's events and
// the port's to its MainWindowModel, which holds the rules and the exchange
// engine, and draws what the model says (WindowSurface).
#pragma once

#include "serial/com_port.h"
#include "win/production_window.h"
#include "win/win32_event_queue.h"
#include "window/key_computation.h"
#include "window/main_window_model.h"

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>

namespace vorsal {

// "  —  " and the adapter's name where the system names the port's device.
std::string AdapterSuffix(const std::string& portName);
// A control's text as UTF-8, and setting it.
std::string WindowText(HWND control);
void SetText(HWND control, std::string_view text);

class MainWindow final : public WindowSurface {
 public:
  // Creates the window hidden; Show puts it on screen, centred.
  MainWindow(HINSTANCE instance, TComPort& comPort);
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND Handle() const { return window_; }
  void Show();
  // The message loop's first look at a message: the window's key preview
  // and the dialog keys (Tab, arrows). True when the message is handled.
  bool PreTranslate(MSG& message);
  // From now on a stop signal closes the window as its user would.
  void CloseOnStopSignals();

  MainWindowModel& Model() { return model_; }
  // "Производство…": the production window, made on first use.
  ProductionWindow& Production();
  HINSTANCE Instance() const { return instance_; }
  // Runs `body`; what it throws ends in the error box.
  void Guarded(const std::function<void()>& body);

  // WindowSurface.
  void SetTitle(std::string_view title) override;
  void SetPanelVisible(WindowPanel panel, bool visible) override;
  int PanelHeight(WindowPanel panel) const override;
  void SetClientHeight(int height) override;
  void SetDisplayText(WindowDisplay display, std::string_view text) override;
  void SetNetworkBoxes(bool service, bool working) override;
  void SetStatusText(StatusPanel panel, std::string_view text) override;
  void SetGaugeMaximum(int maximum) override;
  void SetGaugeProgress(int progress) override;
  void SetGaugeColors(GaugeColor background, GaugeColor foreground) override;
  void SetGaugeTimerEnabled(bool enabled) override;
  void SetPortList(const std::vector<std::string>& names, int selected) override;
  void ClearPortSelection() override;
  void SetKeyList(const std::vector<std::string>& names) override;
  void AddKeyName(std::string_view name) override;
  void SetKeyText(std::string_view text) override;
  void ClearKeyBox() override;
  void SetNewAddressRange(int minimum, int maximum) override;
  void SetNewAddress(int value) override;
  std::string KeyText() const override;
  std::string NewAddressText() const override;
  int NewNetworkIndex() const override;
  bool AutoIncrement() const override;
  void ShowError(std::string_view text, std::string_view detail) override;
  void SetBusyCursor(bool busy) override;
  void Sleep(int ms) override;
  bool OpenDocument(const std::string& path) override;
  void DiscardPendingKeys() override;
  void Post(std::function<void()> call) override;
  bool KeyDialogsReady() const override { return true; }
  bool KeyDialogOpen() const override { return keyDialogOpen_; }
  bool RunKeyComputation() override;
  void RunKeyTransfer() override;
  void CloseWindow() override;

  // The busy cursor, where one was asked for (the window's and the key
  // dialogs' WM_SETCURSOR).
  bool SetBusyCursorIfBusy() const;

 private:
  static INT_PTR CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR HandleMain(UINT message, WPARAM wParam, LPARAM lParam);
  bool HandleCommand(int id, int code);
  void CreateChildren();
  void Stack();  // places the visible panels, the gauge and the status bar
  // Designed pixels (96 DPI) at the window's DPI.
  int Px(int designed) const { return MulDiv(designed, dpi_, 96); }
  void SetStatusBarParts();
  // The new-address input wide enough for "4095" in its font beside its
  // arrows, within its group.
  void FitAddressInput();
  // The DPI changed: fonts, controls, the window's size.
  void ApplyDpi(int dpi, const RECT* suggested);
  // The port shown in the port box is the user's confirmed choice (the
  // list closed on it, or Enter): it is opened.
  void ConfirmPortChoice();
  std::string ChosenPortName() const;
  HWND Item(int id) const;  // a control of any panel
  HWND PanelWindow(WindowPanel panel) const;

  HINSTANCE instance_;
  TComPort& comPort_;
  Win32EventQueue queue_;  // the port's deliveries and the window's posted calls
  HWND window_ = nullptr;
  std::array<HWND, 4> panels_{};  // Tools, Top, Middle, Bottom
  HWND gauge_ = nullptr;
  HWND statusBar_ = nullptr;
  HFONT largeBold_ = nullptr;
  HFONT dialogFont_ = nullptr;  // made after a DPI change; the template's font before
  HBRUSH panelBrush_ = nullptr;
  int dpi_ = 96;
  int clientHeight_ = 0;            // designed pixels
  bool heightSetWhileMinimised_ = false;
  int gaugeMaximum_ = 0;
  std::vector<std::string> portNames_;  // the port box's items, in order
  bool portChoiceOk_ = false;           // the open list was closed on a choice
  int busy_ = 0;
  bool keyDialogOpen_ = false;
  int stopSignalsBefore_ = 0;
  KeyComputation computation_;
  MainWindowModel model_;
  std::unique_ptr<ProductionWindow> production_;

  friend class KeyDialog;
};

}  // namespace vorsal
