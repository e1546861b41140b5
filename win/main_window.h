// The program's main window on the Win32 API: the dialog templates of the
// resource script (the window and its four stacked panels), the gauge, the
// status bar, the menu and the two timers. It hands the user's events and
// the port's to its MainWindowModel, which holds the rules and the exchange
// engine, and draws what the model says (WindowSurface).
#pragma once

#include "serial/com_port.h"
#include "win/win32_event_queue.h"
#include "window/key_computation.h"
#include "window/main_window_model.h"

#include <array>
#include <functional>
#include <string>

#include <windows.h>

namespace vorsal {

class MainWindow final : public WindowSurface {
 public:
  static constexpr int ClientWidth = 338;

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
  void DrawGauge(const DRAWITEMSTRUCT& item) const;
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
  HBRUSH panelBrush_ = nullptr;
  int clientHeight_ = 0;
  int gaugeMaximum_ = 0, gaugeProgress_ = 0;
  COLORREF gaugeBackground_ = RGB(255, 255, 255), gaugeForeground_ = RGB(0, 0, 0);
  int busy_ = 0;
  bool keyDialogOpen_ = false;
  bool stopForExit_ = false;  // a stop signal came: key dialogs at work stop
  int stopSignalsBefore_ = 0;
  KeyComputation computation_;
  MainWindowModel model_;

  friend class KeyDialog;
};

}  // namespace vorsal
