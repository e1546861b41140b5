// The production window on the Win32 API: a modeless dialog (IDD_PRODUCTION)
// beside the main window. Its rules are ProductionModel's and the run is
// ProductionRun's; the window forwards the user's events, follows the
// system's devices (WM_DEVICECHANGE) and draws the model on a timer: the
// settings, a tile per port coloured by its step, the counters, the run's
// journal newest first, the two stops and "Отчёт…".
#pragma once

#include "window/production_run.h"

#include <functional>
#include <string>
#include <vector>

#include <windows.h>

namespace vorsal {

class ProductionWindow {
 public:
  // `heldPort` tells the device path of the port the main window holds
  // open (empty: none); `keyStore` is the main window's Keys.ini.
  ProductionWindow(HINSTANCE instance, HWND owner, std::function<std::string()> heldPort,
                   std::filesystem::path keyStore);
  ~ProductionWindow();
  ProductionWindow(const ProductionWindow&) = delete;
  ProductionWindow& operator=(const ProductionWindow&) = delete;

  HWND Handle() const { return window_; }
  void Show();
  // The command line's settings over the remembered ones, and its journal.
  void Fill(const ProductionSettings& settings);
  void SetJournal(const std::filesystem::path& journal) { journal_ = journal; }
  // The settings as the controls hold them.
  ProductionSettings Settings() const;
  // The dialog keys (Tab, arrows) of the window; true when handled.
  bool PreTranslate(MSG& message);
  // Closing: during a run the user is asked first; true when it closed.
  bool Close();

  void StartClick();
  void StopClick();
  void ReportClick();
  void DevicesChanged();
  void Draw();

 private:
  static INT_PTR CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void CreateControls();
  void FillPortList(const std::vector<std::string>& checked);
  std::vector<std::string> CheckedPorts() const;
  void LoadSettings();
  void SaveSettings(const ProductionSettings& settings) const;
  void DrawTiles();
  void DrawTile(const DRAWITEMSTRUCT& item) const;
  void ShowError(const std::string& text) const;
  HWND Item(int id) const { return GetDlgItem(window_, id); }
  int Px(int designed) const { return MulDiv(designed, dpi_, 96); }
  void ApplyDpi(int dpi, const RECT* suggested);

  HINSTANCE instance_;
  std::function<std::string()> heldPort_;
  std::filesystem::path keyStore_;
  std::filesystem::path journal_;
  HWND window_ = nullptr;
  int dpi_ = 96;
  HFONT tileFont_ = nullptr, tileBold_ = nullptr;
  ProductionModel model_;
  ProductionRun run_;
  std::vector<production::BatchPort> offered_;
  std::vector<HWND> tiles_;
  std::vector<PortTile> tileState_;
  std::size_t journalShown_ = 0, messagesShown_ = 0;
};

}  // namespace vorsal
