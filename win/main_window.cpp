#include "win/main_window.h"

#include "platform/port_facts.h"
#include "platform/stop_signals.h"
#include "platform/win32_text.h"
#include "win/layout.h"
#include "win/resource.h"
#include "window/texts.h"
#include "window/window_metrics.h"

#include <commctrl.h>
#include <dbt.h>
#include <shellapi.h>
#include <uxtheme.h>

#include <algorithm>
#include <utility>

namespace vorsal {

namespace {

using platform::Utf8FromWide;
using platform::WideFromUtf8;

constexpr UINT_PTR TimerReceive = 1;
constexpr UINT_PTR TimerGauge = 2;
constexpr UINT_PTR TimerStopSignals = 3;
constexpr int TimerIntervalMs = 100;


}  // namespace

std::string WindowText(HWND control) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return Utf8FromWide(text);
}

void SetText(HWND control, std::string_view text) { SetWindowTextW(control, WideFromUtf8(text).c_str()); }

// The system's name for the port's device usually ends in the port's own,
// which is left out.
std::string AdapterSuffix(const std::string& portName) {
  std::string adapter = platform::ReadUsbIdentity(ComPortDevicePath(portName)).product;
  const std::string own = " (" + portName + ")";
  if (adapter.size() >= own.size() && adapter.compare(adapter.size() - own.size(), own.size(), own) == 0) {
    adapter.resize(adapter.size() - own.size());
  }
  return adapter.empty() ? std::string() : "  —  " + adapter;
}

namespace {

COLORREF ColorOf(GaugeColor color) {
  const std::optional<Rgb> rgb = GaugeRgb(color);
  return rgb ? RGB(rgb->red, rgb->green, rgb->blue) : GetSysColor(COLOR_BTNFACE);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, TComPort& comPort)
    : instance_(instance), comPort_(comPort), model_(*this, comPort) {
  panelBrush_ = GetSysColorBrush(COLOR_BTNFACE);
  // The port's handlers belong to this window until it is destroyed.
  comPort_.OnRxChar = [this](TCustomComPort*, int) { model_.PortRxChar(); };
  comPort_.OnError = [this](TCustomComPort*, TComErrors errors) { Guarded([&] { model_.PortError(errors); }); };
  comPort_.SetEventQueue(&queue_);
  window_ = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_MAIN), nullptr, MainProc,
                               reinterpret_cast<LPARAM>(this));
}

MainWindow::~MainWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
  Guarded([this] { model_.Close(); });
  comPort_.SetEventQueue(nullptr);
  comPort_.OnRxChar = nullptr;
  comPort_.OnError = nullptr;
  if (largeBold_ != nullptr) DeleteObject(largeBold_);
  if (dialogFont_ != nullptr) DeleteObject(dialogFont_);
}

void MainWindow::Guarded(const std::function<void()>& body) {
  try {
    body();
  } catch (...) {
    model_.ShowError(CurrentExceptionMessage());
  }
}

// ---------------------------------------------------------------------------
// Creation.

INT_PTR CALLBACK MainWindow::MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<MainWindow*>(lParam);
    self->window_ = window;
    self->dpi_ = WindowDpi(window);
    KeepDialogDpiChangesToItself(window);
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  return self == nullptr ? FALSE : self->HandleMain(message, wParam, lParam);
}

// The panels forward their controls' notices and colours to the window.
INT_PTR CALLBACK MainWindow::PanelProc(HWND panel, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(panel, DWLP_USER, lParam);
    KeepDialogDpiChangesToItself(panel);
    FitToDesignedPixels(panel, reinterpret_cast<MainWindow*>(lParam)->dpi_);
    return FALSE;
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(panel, DWLP_USER));
  if (self == nullptr) return FALSE;
  switch (message) {
    case WM_COMMAND:
    case WM_SETCURSOR:
      return self->HandleMain(message, wParam, lParam);
    case WM_CTLCOLORSTATIC:
      if (reinterpret_cast<HWND>(lParam) == self->Item(IDC_LABEL_AOLD)) {
        const auto dc = reinterpret_cast<HDC>(wParam);
        SetTextColor(dc, RGB(64, 64, 64));
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<INT_PTR>(self->panelBrush_);
      }
      return FALSE;
    default:
      return FALSE;
  }
}

void MainWindow::CreateChildren() {
  // Created in tab order: the port box, the new parameters, the key panel,
  // the current parameters last.
  const int order[] = {0, 2, 3, 1};
  const int templates[] = {IDD_PANEL_TOOLS, IDD_PANEL_TOP, IDD_PANEL_MIDDLE, IDD_PANEL_BOTTOM};
  for (int index : order) {
    panels_[static_cast<size_t>(index)] = CreateDialogParamW(instance_, MAKEINTRESOURCEW(templates[index]), window_,
                                                             PanelProc, reinterpret_cast<LPARAM>(this));
  }
  // The gauge is the system's progress bar, so that screen readers announce
  // it as one; without the visual style it draws in the colours it is given.
  gauge_ = CreateWindowExW(WS_EX_STATICEDGE, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE | PBS_SMOOTH, 0, 0, 0, 0,
                           window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_GAUGE)), instance_, nullptr);
  SetWindowTheme(gauge_, L" ", L" ");
  SetGaugeMaximum(0);
  statusBar_ = CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE | CCS_NORESIZE | CCS_NOPARENTALIGN,
                               0, 0, 0, 0, window_, reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS_BAR)),
                               instance_, nullptr);
  SetStatusBarParts();
  // The status bar's hint.
  HWND tip = CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, 0, 0, 0, 0, window_, nullptr,
                             instance_, nullptr);
  std::wstring hint = WideFromUtf8(texts::HintStatusBar);
  TOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = window_;
  tool.uId = reinterpret_cast<UINT_PTR>(statusBar_);
  tool.lpszText = hint.data();
  SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));

  for (const char* type : {texts::ConnTypeModem, texts::ConnTypeAdapters}) {
    SendMessageW(Item(IDC_CONN_TYPE), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(type).c_str()));
  }
  SendMessageW(Item(IDC_CONN_TYPE), CB_SETCURSEL, 0, 0);
  SendMessageW(Item(IDC_LABEL_AOLD), WM_SETFONT, reinterpret_cast<WPARAM>(largeBold_), FALSE);
  SendMessageW(Item(IDC_NEW_ADDRESS), WM_SETFONT, reinterpret_cast<WPARAM>(largeBold_), FALSE);
  FitAddressInput();
  SendMessageW(Item(IDC_NEW_ADDRESS_SPIN), UDM_SETRANGE32, MinAddress, MaxAddress);
  SendMessageW(Item(IDC_NEW_ADDRESS_SPIN), UDM_SETPOS32, 0, 0);
  CheckRadioButton(panels_[2], IDC_NEW_NET_SERVICE, IDC_NEW_NET_WORKING, IDC_NEW_NET_SERVICE);

  HICON big = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VORSAL), IMAGE_ICON,
                                            GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  HICON small = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VORSAL), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

void MainWindow::SetStatusBarParts() {
  int edges[StatusPanelWidths.size()];
  int right = 0;
  for (size_t i = 0; i < StatusPanelWidths.size(); ++i) edges[i] = Px(right += StatusPanelWidths[i]);
  SendMessageW(statusBar_, SB_SETPARTS, StatusPanelWidths.size(), reinterpret_cast<LPARAM>(edges));
}

// The input and its arrows together are as wide as designed, or as "4095"
// needs in the input's font with its margins and borders, whichever is more,
// but no wider than the group around them allows. The arrows then take
// their room from the input's right end.
void MainWindow::FitAddressInput() {
  HWND input = Item(IDC_NEW_ADDRESS), arrows = Item(IDC_NEW_ADDRESS_SPIN);
  HWND panel = GetParent(input);
  RECT place{}, arrowPlace{}, group{};
  GetWindowRect(input, &place);
  GetWindowRect(arrows, &arrowPlace);
  GetWindowRect(Item(IDC_GROUP_NEW_ID), &group);
  MapWindowPoints(HWND_DESKTOP, panel, reinterpret_cast<POINT*>(&place), 2);
  MapWindowPoints(HWND_DESKTOP, panel, reinterpret_cast<POINT*>(&group), 2);
  // Once buddied, the arrows stand at the input's right end.
  const bool buddied = reinterpret_cast<HWND>(SendMessageW(arrows, UDM_GETBUDDY, 0, 0)) == input;
  const int arrowWidth = buddied ? static_cast<int>(arrowPlace.right - arrowPlace.left) : GetSystemMetrics(SM_CXVSCROLL);
  int width = static_cast<int>(place.right - place.left) + (buddied ? arrowWidth : 0);

  HDC dc = GetDC(input);
  HGDIOBJ old = SelectObject(dc, largeBold_);
  SIZE text{};
  GetTextExtentPoint32W(dc, L"4095", 4, &text);
  SelectObject(dc, old);
  ReleaseDC(input, dc);
  const auto margins = static_cast<DWORD>(SendMessageW(input, EM_GETMARGINS, 0, 0));
  const int needed = text.cx + LOWORD(margins) + HIWORD(margins) + 4 * GetSystemMetrics(SM_CXEDGE) + 2 + arrowWidth;
  width = std::min(std::max(width, needed), static_cast<int>(group.right - Px(4) - place.left));
  SetWindowPos(input, nullptr, 0, 0, width, place.bottom - place.top, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  SendMessageW(arrows, UDM_SETBUDDY, reinterpret_cast<WPARAM>(input), 0);
}

void MainWindow::ApplyDpi(int dpi, const RECT* suggested) {
  const int old = dpi_;
  if (dpi <= 0 || dpi == old) return;
  dpi_ = dpi;
  HFONT oldBold = largeBold_, oldDialogFont = dialogFont_;
  largeBold_ = CreateScaledFont(dpi_, 16, true, L"MS Sans Serif");
  dialogFont_ = CreateDialogFont(dpi_);
  for (HWND panel : panels_) {
    for (HWND child = GetWindow(panel, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      const int id = GetDlgCtrlID(child);
      const HFONT font = id == IDC_LABEL_AOLD || id == IDC_NEW_ADDRESS ? largeBold_ : dialogFont_;
      SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    }
    RescaleForDpi(panel, old, dpi_, Px(WindowClientWidth));
  }
  FitAddressInput();
  SetStatusBarParts();
  if (suggested != nullptr) {
    SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SetClientHeight(clientHeight_);
  InvalidateRect(window_, nullptr, TRUE);
  if (oldBold != nullptr) DeleteObject(oldBold);
  if (oldDialogFont != nullptr) DeleteObject(oldDialogFont);
}

void MainWindow::Show() {
  RECT frame{}, work{};
  GetWindowRect(window_, &frame);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  const int width = frame.right - frame.left, height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(window_, SW_SHOW);
  SetFocus(Item(IDC_PORT_NAME));
}

void MainWindow::CloseOnStopSignals() {
  platform::CatchWindowCloseSignals();
  stopSignalsBefore_ = platform::StopSignalCounter().load();
  SetTimer(window_, TimerStopSignals, TimerIntervalMs, nullptr);
}

// ---------------------------------------------------------------------------
// Messages.

INT_PTR MainWindow::HandleMain(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      largeBold_ = CreateScaledFont(dpi_, 16, true, L"MS Sans Serif");
      CreateChildren();
      queue_.Attach(window_);
      Guarded([this] { model_.Create(); });
      SetTimer(window_, TimerReceive, TimerIntervalMs, nullptr);
      return FALSE;  // the focus is given by Show
    case WM_RUN_POSTED:
      queue_.RunPending();
      return TRUE;
    case WM_TIMER:
      if (wParam == TimerReceive) Guarded([this] { model_.ReceiveTick(); });
      if (wParam == TimerGauge) Guarded([this] { model_.GaugeTick(); });
      if (wParam == TimerStopSignals && platform::StopSignalCounter().load() != stopSignalsBefore_) {
        KillTimer(window_, TimerStopSignals);
        Guarded([this] { model_.StopRequested(); });
      }
      return TRUE;
    case WM_COMMAND:
      return HandleCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->hwndFrom == statusBar_ && header->code == NM_DBLCLK) Guarded([this] { model_.StatusBarDblClick(); });
      return FALSE;
    }
    case WM_DPICHANGED:
      ApplyDpi(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    case WM_SIZE:
      // A height the model asked for while the window was minimised was
      // given to its restored placement; the menu bar's lines are measured
      // now that it is shown.
      if (wParam == SIZE_RESTORED && heightSetWhileMinimised_) {
        heightSetWhileMinimised_ = false;
        SetClientHeight(clientHeight_);
      }
      return FALSE;
    case WM_DEVICECHANGE:
      // An adapter came or went: the port list follows, unless the user
      // has it open.
      if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE || wParam == DBT_DEVNODES_CHANGED) {
        Post([this] {
          if (SendMessageW(Item(IDC_PORT_NAME), CB_GETDROPPEDSTATE, 0, 0) == FALSE) model_.PortListDropDown();
          if (production_ != nullptr) production_->DevicesChanged();
        });
      }
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_SETCURSOR:
      if (!SetBusyCursorIfBusy()) return FALSE;
      SetWindowLongPtrW(window_, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_CLOSE:
      // A production run is stopped first, when its user agrees.
      if (production_ != nullptr && !production_->Close()) return TRUE;
      production_.reset();
      Guarded([this] { model_.Close(); });
      DestroyWindow(window_);
      return TRUE;
    case WM_DESTROY:
      KillTimer(window_, TimerReceive);
      KillTimer(window_, TimerGauge);
      KillTimer(window_, TimerStopSignals);
      queue_.Attach(nullptr);
      window_ = nullptr;
      PostQuitMessage(0);
      return TRUE;
    default:
      return FALSE;
  }
}

bool MainWindow::HandleCommand(int id, int code) {
  switch (id) {
    case IDM_FILE_EXIT:
      PostMessageW(window_, WM_CLOSE, 0, 0);
      return true;
    case IDM_FILE_PRODUCTION:
      Production().Show();
      return true;
    case IDM_HELP_GET_HELP:
      Guarded([this] { model_.HelpClick(); });
      return true;
    case IDC_PORT_NAME:
      // Only a confirmed choice opens a port: the open list closed on an
      // item, or Enter (PreTranslate). Arrowing through the closed list, or
      // through the open one before Esc, opens nothing.
      if (code == CBN_DROPDOWN) {
        portChoiceOk_ = false;
        Guarded([this] { model_.PortListDropDown(); });
      }
      if (code == CBN_SELENDOK) portChoiceOk_ = true;
      if (code == CBN_SELENDCANCEL) portChoiceOk_ = false;
      if (code == CBN_CLOSEUP) {
        if (std::exchange(portChoiceOk_, false)) {
          ConfirmPortChoice();
        } else {
          Guarded([this] { model_.PortListDropDown(); });  // the open port shown again
        }
      }
      return true;
    case IDC_CONN_TYPE:
      if (code == CBN_SELCHANGE) {
        Guarded([this] {
          const auto index = static_cast<int>(SendMessageW(Item(IDC_CONN_TYPE), CB_GETCURSEL, 0, 0));
          model_.ConnectionTypeSelected(index, ChosenPortName());
        });
      }
      return true;
    case IDC_NEW_ADDRESS:
      // A value outside the range is pulled in when the input loses focus.
      if (code == EN_KILLFOCUS) Guarded([this] { SetNewAddress(model_.NewAddress()); });
      return true;
    default:
      break;
  }
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_GET_ADDRESS: Guarded([this] { model_.ReadParamsClick(); }); return true;
    case IDC_SET_ADDRESS: Guarded([this] { model_.WriteAddressClick(); }); return true;
    case IDC_NEW_NET_SERVICE:
    case IDC_NEW_NET_WORKING: Guarded([this] { model_.NewNetworkClick(); }); return true;
    case IDC_GET_FP: Guarded([this] { model_.ReadFootprintClick(); }); return true;
    case IDC_SET_KEY: Guarded([this] { model_.WriteKeyClick(); }); return true;
    default: return false;
  }
}

bool MainWindow::PreTranslate(MSG& message) {
  if (production_ != nullptr && production_->PreTranslate(message)) return true;
  if (window_ == nullptr || (message.hwnd != window_ && !IsChild(window_, message.hwnd))) return false;
  if (message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN) {
    WindowKey key = WindowKey::Other;
    if (message.wParam == VK_ADD) key = WindowKey::KeypadPlus;
    if (message.wParam == VK_F1) key = WindowKey::F1;
    if (message.wParam == VK_OEM_PLUS) key = WindowKey::Equal;  // the main keyboard's =/+ key
    const bool modifierDown = GetKeyState(VK_SHIFT) < 0 || GetKeyState(VK_CONTROL) < 0 || GetKeyState(VK_MENU) < 0;
    HWND focus = GetFocus();
    HWND keyBox = Item(IDC_KEY);
    const bool keyBoxActive = focus != nullptr && (focus == keyBox || GetParent(focus) == keyBox);
    bool discard = false;
    Guarded([&] { discard = model_.KeyDown(key, modifierDown, keyBoxActive); });
    // Not translated: the key's character never reaches the control.
    if (discard) return true;
    HWND portBox = Item(IDC_PORT_NAME);
    if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN && message.hwnd == portBox &&
        SendMessageW(portBox, CB_GETDROPPEDSTATE, 0, 0) == FALSE) {
      ConfirmPortChoice();
      return true;
    }
  }
  return IsDialogMessageW(window_, &message) != FALSE;
}

// ---------------------------------------------------------------------------
// Layout.

HWND MainWindow::Item(int id) const {
  for (HWND panel : panels_) {
    if (HWND item = GetDlgItem(panel, id)) return item;
  }
  return nullptr;
}

HWND MainWindow::PanelWindow(WindowPanel panel) const {
  switch (panel) {
    case WindowPanel::Tools: return panels_[0];
    case WindowPanel::Top: return panels_[1];
    case WindowPanel::Middle: return panels_[2];
    case WindowPanel::Bottom: return panels_[3];
    case WindowPanel::ProgressBar: return gauge_;
    case WindowPanel::StatusBar: return statusBar_;
  }
  return nullptr;
}

// The shown panels from the top, the status bar at the bottom edge with
// the gauge above it. Moved controls are drawn anew where they land: the
// bits at their old place may already be covered by a panel just shown.
// Edges are designed pixels scaled from the top, so that neighbours meet
// without a gap or an overlap whatever the rounding.
void MainWindow::Stack() {
  constexpr UINT flags = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS;
  const int width = Px(WindowClientWidth);
  const auto place = [&](HWND part, int top, int bottom) {
    SetWindowPos(part, nullptr, 0, Px(top), width, Px(bottom) - Px(top), flags);
  };
  const WindowPanel stacked[] = {WindowPanel::Tools, WindowPanel::Top, WindowPanel::Middle, WindowPanel::Bottom};
  int top = 0;
  for (size_t i = 0; i < panels_.size(); ++i) {
    if ((GetWindowLongW(panels_[i], GWL_STYLE) & WS_VISIBLE) == 0) continue;  // hidden, or the window not yet shown
    const int height = DesignedPanelHeight(stacked[i]);
    place(panels_[i], top, top + height);
    top += height;
  }
  const int statusTop = clientHeight_ - DesignedPanelHeight(WindowPanel::StatusBar);
  place(statusBar_, statusTop, clientHeight_);
  place(gauge_, statusTop - DesignedPanelHeight(WindowPanel::ProgressBar), statusTop);
}

void MainWindow::SetPanelVisible(WindowPanel panel, bool visible) {
  ShowWindow(PanelWindow(panel), visible ? SW_SHOWNA : SW_HIDE);
  Stack();
}

int MainWindow::PanelHeight(WindowPanel panel) const { return DesignedPanelHeight(panel); }

void MainWindow::SetClientHeight(int height) {
  clientHeight_ = height;
  heightSetWhileMinimised_ = IsIconic(window_) != FALSE;
  SetClientSize(window_, Px(WindowClientWidth), Px(height));
  Stack();
}

// ---------------------------------------------------------------------------
// Drawing.

void MainWindow::SetTitle(std::string_view title) { SetText(window_, title); }

void MainWindow::SetDisplayText(WindowDisplay display, std::string_view text) {
  const int id = display == WindowDisplay::Version   ? IDC_LABEL_VERSION
                 : display == WindowDisplay::Address ? IDC_LABEL_AOLD
                                                     : IDC_LABEL_FP;
  SetText(Item(id), text);
}

void MainWindow::SetNetworkBoxes(bool service, bool working) {
  SendMessageW(Item(IDC_NET_IDLE), BM_SETCHECK, service ? BST_CHECKED : BST_UNCHECKED, 0);
  SendMessageW(Item(IDC_NET_ACTIVE), BM_SETCHECK, working ? BST_CHECKED : BST_UNCHECKED, 0);
}

void MainWindow::SetStatusText(StatusPanel panel, std::string_view text) {
  SendMessageW(statusBar_, SB_SETTEXTW, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(WideFromUtf8(text).c_str()));
}

// Without a maximum the bar stays empty.
void MainWindow::SetGaugeMaximum(int maximum) {
  gaugeMaximum_ = std::max(maximum, 0);
  SendMessageW(gauge_, PBM_SETRANGE32, 0, std::max(gaugeMaximum_, 1));
  if (gaugeMaximum_ == 0) SendMessageW(gauge_, PBM_SETPOS, 0, 0);
}

void MainWindow::SetGaugeProgress(int progress) {
  SendMessageW(gauge_, PBM_SETPOS, static_cast<WPARAM>(gaugeMaximum_ > 0 ? std::clamp(progress, 0, gaugeMaximum_) : 0), 0);
}

void MainWindow::SetGaugeColors(GaugeColor background, GaugeColor foreground) {
  SendMessageW(gauge_, PBM_SETBKCOLOR, 0, static_cast<LPARAM>(ColorOf(background)));
  SendMessageW(gauge_, PBM_SETBARCOLOR, 0, static_cast<LPARAM>(ColorOf(foreground)));
}

void MainWindow::SetGaugeTimerEnabled(bool enabled) {
  if (enabled) {
    SetTimer(window_, TimerGauge, TimerIntervalMs, nullptr);
  } else {
    KillTimer(window_, TimerGauge);
  }
}

// Each port with its adapter's name, as the system's device list names it,
// where it has one; the list as wide as its longest item.
void MainWindow::SetPortList(const std::vector<std::string>& names, int selected) {
  HWND box = Item(IDC_PORT_NAME);
  SendMessageW(box, CB_RESETCONTENT, 0, 0);
  portNames_ = names;
  HDC dc = GetDC(box);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(box, WM_GETFONT, 0, 0)));
  int widest = 0;
  for (const std::string& name : names) {
    const std::wstring item = WideFromUtf8(name + AdapterSuffix(name));
    SendMessageW(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    SIZE size{};
    GetTextExtentPoint32W(dc, item.c_str(), static_cast<int>(item.size()), &size);
    widest = std::max(widest, static_cast<int>(size.cx));
  }
  SelectObject(dc, old);
  ReleaseDC(box, dc);
  SendMessageW(box, CB_SETDROPPEDWIDTH, static_cast<WPARAM>(widest + GetSystemMetrics(SM_CXVSCROLL) + Px(8)), 0);
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

void MainWindow::ClearPortSelection() { SendMessageW(Item(IDC_PORT_NAME), CB_SETCURSEL, static_cast<WPARAM>(-1), 0); }

std::string MainWindow::ChosenPortName() const {
  const auto index = static_cast<size_t>(SendMessageW(Item(IDC_PORT_NAME), CB_GETCURSEL, 0, 0));
  return index < portNames_.size() ? portNames_[index] : std::string();
}

void MainWindow::ConfirmPortChoice() {
  const std::string name = ChosenPortName();
  if (!name.empty()) Guarded([&] { model_.PortSelected(name); });
}

void MainWindow::SetKeyList(const std::vector<std::string>& names) {
  SendMessageW(Item(IDC_KEY), CB_RESETCONTENT, 0, 0);
  for (const std::string& name : names) AddKeyName(name);
}

void MainWindow::AddKeyName(std::string_view name) {
  SendMessageW(Item(IDC_KEY), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(name).c_str()));
}

void MainWindow::SetKeyText(std::string_view text) {
  HWND box = Item(IDC_KEY);
  SetText(box, text);
  const auto end = static_cast<WORD>(GetWindowTextLengthW(box));
  SendMessageW(box, CB_SETEDITSEL, 0, MAKELPARAM(end, end));
}

void MainWindow::ClearKeyBox() {
  HWND box = Item(IDC_KEY);
  SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
  SetWindowTextW(box, L"");
}

void MainWindow::SetNewAddressRange(int minimum, int maximum) {
  SendMessageW(Item(IDC_NEW_ADDRESS_SPIN), UDM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
}

void MainWindow::SetNewAddress(int value) {
  SendMessageW(Item(IDC_NEW_ADDRESS_SPIN), UDM_SETPOS32, 0, value);
  SetDlgItemInt(panels_[2], IDC_NEW_ADDRESS, static_cast<UINT>(value), FALSE);
}

// ---------------------------------------------------------------------------
// The user's input.

std::string MainWindow::KeyText() const { return WindowText(Item(IDC_KEY)); }
std::string MainWindow::NewAddressText() const { return WindowText(Item(IDC_NEW_ADDRESS)); }
int MainWindow::NewNetworkIndex() const { return IsDlgButtonChecked(panels_[2], IDC_NEW_NET_WORKING) == BST_CHECKED ? 1 : 0; }
bool MainWindow::AutoIncrement() const { return IsDlgButtonChecked(panels_[2], IDC_AUTO_INC) == BST_CHECKED; }

// ---------------------------------------------------------------------------
// Surroundings.

void MainWindow::ShowError(std::string_view text, std::string_view detail) {
  std::string shown(text);
  if (!detail.empty()) shown.append("\n\n").append(detail);
  // Owned by the active window of the program (a key dialog, when one is
  // shown), so that it stays in front of it.
  HWND owner = GetActiveWindow();
  if (owner == nullptr) owner = window_;
  MessageBoxW(owner, WideFromUtf8(shown).c_str(), WideFromUtf8(texts::ErrorBoxTitle).c_str(), MB_OK | MB_ICONERROR);
}

void MainWindow::SetBusyCursor(bool busy) {
  busy_ = std::max(0, busy_ + (busy ? 1 : -1));
  POINT point{};
  GetCursorPos(&point);
  SetCursorPos(point.x, point.y);  // makes the window under the mouse set its cursor now
  SetCursor(LoadCursorW(nullptr, busy_ > 0 ? IDC_WAIT : IDC_ARROW));
}

bool MainWindow::SetBusyCursorIfBusy() const {
  if (busy_ == 0) return false;
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  return true;
}

void MainWindow::Sleep(int ms) { ::Sleep(static_cast<DWORD>(std::max(ms, 0))); }

bool MainWindow::OpenDocument(const std::string& path) {
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(window_, L"open", WideFromUtf8(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

void MainWindow::DiscardPendingKeys() {
  MSG message;
  while (PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
  }
}

ProductionWindow& MainWindow::Production() {
  if (production_ == nullptr) {
    // One port, one owner: the port this window holds open is not offered.
    production_ = std::make_unique<ProductionWindow>(
        instance_, window_,
        [this] { return comPort_.Connected() ? ComPortDevicePath(comPort_.Port()) : std::string(); },
        model_.KeyFile());
  }
  return *production_;
}

void MainWindow::CloseWindow() { PostMessageW(window_, WM_CLOSE, 0, 0); }

void MainWindow::Post(std::function<void()> call) {
  queue_.Post([this, call = std::move(call)] { Guarded(call); });
}

}  // namespace vorsal
