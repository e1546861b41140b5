#include "win/production_window.h"

#include "keys/cp1251.h"
#include "keys/key_derivation.h"
#include "keys/key_store.h"
#include "platform/win32_text.h"
#include "protocol/frame.h"
#include "win/layout.h"
#include "win/main_window.h"
#include "win/resource.h"
#include "window/texts.h"
#include "window/window_metrics.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

namespace vorsal {

namespace {

using platform::Utf8FromWide;
using platform::WideFromUtf8;

constexpr UINT_PTR TimerDraw = 1;
constexpr int DrawIntervalMs = 200;
constexpr int TileColumns = 4;
constexpr int TileGap = 6;  // designed pixels between tiles
constexpr int ProductionClientWidth = 640, ProductionClientHeight = 608;  // as the template designs it
// Where the settings are remembered, per user.
constexpr wchar_t SettingsKey[] = L"Software\\Vorsal\\Production";

std::string Elapsed(long long seconds) {
  char text[32];
  snprintf(text, sizeof text, "%lld:%02lld:%02lld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return text;
}

// "COM3" of "\\.\COM3".
std::string PortName(const std::string& path) { return path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path; }

std::optional<std::wstring> StoredText(HKEY key, const wchar_t* name) {
  DWORD size = 0;
  if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS) return std::nullopt;
  text.resize(wcslen(text.c_str()));
  return text;
}

std::optional<int> StoredNumber(HKEY key, const wchar_t* name) {
  DWORD value = 0, size = sizeof value;
  if (RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) return std::nullopt;
  return static_cast<int>(value);
}

// A key derivation's progress with Cancel, shown from its first chunk on
// (a stored key needs none) while the production window waits for it.
class DerivationProgress {
 public:
  DerivationProgress(HINSTANCE instance, HWND owner) : instance_(instance), owner_(owner) {}
  ~DerivationProgress() {
    if (dialog_ == nullptr) return;
    if (main_ != nullptr) EnableWindow(main_, TRUE);
    EnableWindow(owner_, TRUE);
    DestroyWindow(dialog_);
  }
  DerivationProgress(const DerivationProgress&) = delete;
  DerivationProgress& operator=(const DerivationProgress&) = delete;

  void Chunk(int chunk) {
    if (dialog_ == nullptr) {
      dialog_ = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_HASH_CALCULATE), owner_, Proc,
                                   reinterpret_cast<LPARAM>(this));
      if (dialog_ == nullptr) return;
      // Nothing else of the program is used meanwhile: the production window and the main window wait.
      main_ = GetWindow(owner_, GW_OWNER);
      EnableWindow(owner_, FALSE);
      if (main_ != nullptr) EnableWindow(main_, FALSE);
      SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETRANGE32, 0, KeyDerivationChunks);
      ShowWindow(dialog_, SW_SHOW);
    }
    SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(chunk), 0);
    // The dialog is drawn and its Cancel heard between chunks.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        cancelled_ = true;
        break;
      }
      if (IsDialogMessageW(dialog_, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  bool Cancelled() const { return cancelled_; }

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      return TRUE;
    }
    auto* self = reinterpret_cast<DerivationProgress*>(GetWindowLongPtrW(dialog, DWLP_USER));
    if (self != nullptr && ((message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE)) {
      self->cancelled_ = true;
      return TRUE;
    }
    return FALSE;
  }

  HINSTANCE instance_;
  HWND owner_;
  HWND main_ = nullptr;
  HWND dialog_ = nullptr;
  bool cancelled_ = false;
};

}  // namespace

ProductionWindow::ProductionWindow(HINSTANCE instance, HWND owner, std::function<std::string()> heldPort,
                                   std::filesystem::path keyStore)
    : instance_(instance), heldPort_(std::move(heldPort)), keyStore_(std::move(keyStore)), run_(model_) {
  if (!heldPort_) heldPort_ = [] { return std::string(); };
  window_ = CreateDialogParamW(instance_, MAKEINTRESOURCEW(IDD_PRODUCTION), owner, Proc, reinterpret_cast<LPARAM>(this));
}

// A run still going is abandoned by ProductionRun's destructor; its modems
// are journaled still.
ProductionWindow::~ProductionWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
  if (tileFont_ != nullptr) DeleteObject(tileFont_);
  if (tileBold_ != nullptr) DeleteObject(tileBold_);
}

INT_PTR CALLBACK ProductionWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    auto* self = reinterpret_cast<ProductionWindow*>(lParam);
    self->window_ = window;
    self->dpi_ = WindowDpi(window);
    KeepDialogDpiChangesToItself(window);
    FitToDesignedPixels(window, self->dpi_);
  }
  auto* self = reinterpret_cast<ProductionWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  return self == nullptr ? FALSE : self->Handle(message, wParam, lParam);
}

void ProductionWindow::CreateControls() {
  tileFont_ = CreateScaledFont(dpi_, 13, false, L"MS Sans Serif");
  tileBold_ = CreateScaledFont(dpi_, 13, true, L"MS Sans Serif");
  HWND list = Item(IDC_PROD_PORTS);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
  RECT box{};
  GetClientRect(list, &box);
  LVCOLUMNW column{};
  column.mask = LVCF_WIDTH;
  column.cx = box.right - GetSystemMetrics(SM_CXVSCROLL);
  SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
  for (const char* name : {texts::NetworkServiceName, texts::NetworkWorkingName}) {
    SendMessageW(Item(IDC_PROD_NETWORK), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(name).c_str()));
  }
  SendMessageW(Item(IDC_PROD_START_SPIN), UDM_SETBUDDY, reinterpret_cast<WPARAM>(Item(IDC_PROD_START)), 0);
  SendMessageW(Item(IDC_PROD_START_SPIN), UDM_SETRANGE32, MinAddress, MaxAddress);
  // The key name is a secret: never shown in clear, never remembered.
  COMBOBOXINFO combo{};
  combo.cbSize = sizeof combo;
  if (GetComboBoxInfo(Item(IDC_PROD_KEY), &combo)) SendMessageW(combo.hwndItem, EM_SETPASSWORDCHAR, 0x25CF, 0);
  for (const std::string& name : KeyStoreNames(keyStore_.empty() ? KeyStorePath() : keyStore_)) {
    SendMessageW(Item(IDC_PROD_KEY), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(Cp1251ToUtf8(name)).c_str()));
  }
  SendMessageW(Item(IDC_PROD_REGISTRY), EM_SETCUEBANNER, TRUE,
               reinterpret_cast<LPARAM>(WideFromUtf8(texts::HintRegistry).c_str()));
  SetText(Item(IDC_PROD_COUNT), "");
  SendMessageW(Item(IDC_PROD_COUNT), EM_SETCUEBANNER, TRUE,
               reinterpret_cast<LPARAM>(WideFromUtf8(texts::CountUnlimited).c_str()));
  HICON small = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_VORSAL), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
  SendMessageW(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
}

// Centred in the work area when first shown.
void ProductionWindow::Show() {
  if (!IsWindowVisible(window_)) {
    RECT frame{}, work{};
    GetWindowRect(window_, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    SetWindowPos(window_, nullptr, work.left + std::max(0, static_cast<int>(work.right - work.left) - width) / 2,
                 work.top + std::max(0, static_cast<int>(work.bottom - work.top) - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(window_, SW_SHOW);
  SetForegroundWindow(window_);
}

bool ProductionWindow::PreTranslate(MSG& message) {
  if (window_ == nullptr || (message.hwnd != window_ && !IsChild(window_, message.hwnd))) return false;
  return IsDialogMessageW(window_, &message) != FALSE;
}

INT_PTR ProductionWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      SetClientSize(window_, Px(ProductionClientWidth), Px(ProductionClientHeight));
      CreateControls();
      offered_ = ProductionPorts(heldPort_());
      FillPortList({});
      SendMessageW(Item(IDC_PROD_NETWORK), CB_SETCURSEL, 1, 0);
      SendMessageW(Item(IDC_PROD_START_SPIN), UDM_SETPOS32, 0, 1);
      CheckDlgButton(window_, IDC_PROD_ALL_USB, BST_CHECKED);
      LoadSettings();
      SetTimer(window_, TimerDraw, DrawIntervalMs, nullptr);
      Draw();
      return TRUE;
    case WM_TIMER:
      if (wParam == TimerDraw) Draw();
      return TRUE;
    case WM_COMMAND: {
      const int id = LOWORD(wParam), code = HIWORD(wParam);
      if (code != BN_CLICKED) return FALSE;
      if (id == IDC_PROD_RUN) StartClick();
      else if (id == IDC_PROD_STOP) StopClick();
      else if (id == IDC_PROD_REPORT) ReportClick();
      else if (id == IDC_PROD_ALL_USB) Draw();
      else if (id == IDCANCEL) Close();  // Esc and the close box
      else return FALSE;
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (item->CtlID < IDC_PROD_TILE_FIRST) return FALSE;
      DrawTile(*item);
      return TRUE;
    }
    case WM_DPICHANGED:
      ApplyDpi(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    case WM_CLOSE:
      Close();
      return TRUE;
    case WM_DESTROY:
      KillTimer(window_, TimerDraw);
      return TRUE;
    default:
      return FALSE;
  }
}

void ProductionWindow::ApplyDpi(int dpi, const RECT* suggested) {
  const int old = dpi_;
  if (dpi <= 0 || dpi == old) return;
  dpi_ = dpi;
  HFONT font = CreateDialogFont(dpi_);
  for (HWND child = GetWindow(window_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  }
  RECT client{};
  GetClientRect(window_, &client);
  RescaleForDpi(window_, old, dpi_, MulDiv(client.right, dpi_, old));
  if (suggested != nullptr) {
    SetWindowPos(window_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  for (HFONT* tileFont : {&tileFont_, &tileBold_}) DeleteObject(*tileFont);
  tileFont_ = CreateScaledFont(dpi_, 13, false, L"MS Sans Serif");
  tileBold_ = CreateScaledFont(dpi_, 13, true, L"MS Sans Serif");
  for (HWND tile : tiles_) DestroyWindow(tile);
  tiles_.clear();
  DrawTiles();
}

// ---------------------------------------------------------------------------
// Settings.

// The offered ports, each with its adapter's name where the system has one.
void ProductionWindow::FillPortList(const std::vector<std::string>& checked) {
  HWND list = Item(IDC_PROD_PORTS);
  SendMessageW(list, LVM_DELETEALLITEMS, 0, 0);
  for (std::size_t i = 0; i < offered_.size(); ++i) {
    const std::string name = PortName(offered_[i].path);
    std::wstring text = WideFromUtf8(name + AdapterSuffix(name));
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = text.data();
    SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    const bool on = std::find(checked.begin(), checked.end(), offered_[i].path) != checked.end();
    ListView_SetCheckState(list, static_cast<int>(i), on);
  }
}

std::vector<std::string> ProductionWindow::CheckedPorts() const {
  std::vector<std::string> checked;
  for (std::size_t i = 0; i < offered_.size(); ++i) {
    if (ListView_GetCheckState(Item(IDC_PROD_PORTS), static_cast<int>(i))) checked.push_back(offered_[i].path);
  }
  return checked;
}

void ProductionWindow::Fill(const ProductionSettings& settings) {
  CheckDlgButton(window_, IDC_PROD_ALL_USB, settings.allUsbAdapters ? BST_CHECKED : BST_UNCHECKED);
  for (const std::string& path : settings.ports) {
    // A port the system does not list (yet) is still offered as asked.
    if (std::none_of(offered_.begin(), offered_.end(), [&](const auto& port) { return port.path == path; })) {
      offered_.push_back({path, {}});
    }
  }
  FillPortList(settings.ports);
  SendMessageW(Item(IDC_PROD_NETWORK), CB_SETCURSEL, settings.network == NetworkWorking ? 1 : 0, 0);
  SendMessageW(Item(IDC_PROD_START_SPIN), UDM_SETPOS32, 0, settings.start);
  SetText(Item(IDC_PROD_KEY), settings.keyName);
  SetText(Item(IDC_PROD_COUNT), settings.count ? std::to_string(*settings.count) : std::string());
  SetText(Item(IDC_PROD_REGISTRY), settings.registry);
  Draw();
}

ProductionSettings ProductionWindow::Settings() const {
  ProductionSettings settings;
  settings.allUsbAdapters = IsDlgButtonChecked(window_, IDC_PROD_ALL_USB) == BST_CHECKED;
  settings.ports = CheckedPorts();
  settings.network = SendMessageW(Item(IDC_PROD_NETWORK), CB_GETCURSEL, 0, 0) == 1 ? NetworkWorking : NetworkService;
  settings.start = std::clamp(static_cast<int>(SendMessageW(Item(IDC_PROD_START_SPIN), UDM_GETPOS32, 0, 0)),
                              LowestAddress(settings.network), MaxAddress);
  settings.keyName = WindowText(Item(IDC_PROD_KEY));
  BOOL ok = FALSE;
  const UINT count = GetDlgItemInt(window_, IDC_PROD_COUNT, &ok, FALSE);
  if (ok && count > 0) settings.count = std::min(static_cast<int>(count), production::MaxBatchCount);
  std::string registry = WindowText(Item(IDC_PROD_REGISTRY));
  registry.erase(0, registry.find_first_not_of(' '));
  registry.erase(registry.find_last_not_of(' ') + 1);
  settings.registry = registry;
  return settings;
}

void ProductionWindow::LoadSettings() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  ProductionSettings settings;
  settings.allUsbAdapters = StoredNumber(key, L"AllUsbAdapters").value_or(1) != 0;
  const std::string ports = Utf8FromWide(StoredText(key, L"Ports").value_or(L""));
  for (std::size_t at = 0; at < ports.size();) {
    const std::size_t end = std::min(ports.find(';', at), ports.size());
    if (end > at) settings.ports.push_back(ports.substr(at, end - at));
    at = end + 1;
  }
  settings.network = StoredNumber(key, L"Network").value_or(NetworkWorking) == NetworkWorking ? NetworkWorking
                                                                                               : NetworkService;
  settings.start = StoredNumber(key, L"Start").value_or(1);
  if (const int count = StoredNumber(key, L"Count").value_or(0); count > 0) settings.count = count;
  settings.registry = Utf8FromWide(StoredText(key, L"Registry").value_or(L""));
  RegCloseKey(key);
  Fill(settings);
}

void ProductionWindow::SaveSettings(const ProductionSettings& settings) const {
  const ProductionSettings kept = RememberedSettings(settings);
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  const auto number = [&](const wchar_t* name, int value) {
    const auto dword = static_cast<DWORD>(value);
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof dword);
  };
  const auto text = [&](const wchar_t* name, const std::string& value) {
    const std::wstring wide = WideFromUtf8(value);
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                   static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)));
  };
  std::string ports;
  for (const std::string& port : kept.ports) ports += (ports.empty() ? "" : ";") + port;
  number(L"AllUsbAdapters", kept.allUsbAdapters ? 1 : 0);
  text(L"Ports", ports);
  number(L"Network", kept.network);
  number(L"Start", kept.start);
  number(L"Count", kept.count.value_or(0));
  text(L"Registry", kept.registry);
  RegCloseKey(key);
}

// ---------------------------------------------------------------------------
// The user's events.

void ProductionWindow::StartClick() {
  const RunState state = model_.State();
  if (state != RunState::Idle && state != RunState::Finished) return;
  run_.Poll();
  ProductionRunSetup setup;
  setup.settings = Settings();
  offered_ = ProductionPorts(heldPort_());
  setup.ports = RunPorts(setup.settings, offered_, heldPort_());
  setup.journal = journal_;
  setup.keyStore = keyStore_;
  // A key that is not stored yet is derived first, its progress shown; Cancel stops it.
  std::string error;
  bool started = false;
  {
    DerivationProgress progress(instance_, window_);
    KeyObtainHooks keyHooks;
    keyHooks.progress = [&progress](int chunk) { progress.Chunk(chunk); };
    keyHooks.cancelRequested = [&progress] { return progress.Cancelled(); };
    started = run_.Start(setup, keyHooks, error);
  }
  journalShown_ = messagesShown_ = static_cast<std::size_t>(-1);
  if (!started) {
    ShowError(error);
    return;
  }
  SaveSettings(setup.settings);
  Draw();
}

void ProductionWindow::StopClick() {
  run_.Stop();
  Draw();
}

void ProductionWindow::ReportClick() {
  wchar_t file[MAX_PATH] = L"report.html";
  const std::wstring title = WideFromUtf8(texts::ReportFileTitle);
  // The filter: its name, then its pattern, each ended by a NUL.
  std::wstring filter = WideFromUtf8(texts::ReportFileFilter);
  filter.push_back(L'\0');
  filter += L"*.html";
  filter.push_back(L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = filter.c_str();
  dialog.lpstrFile = file;
  dialog.nMaxFile = MAX_PATH;
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = L"html";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&dialog)) return;
  std::string error;
  if (!WriteStationReport(journal_, std::filesystem::path(file), error)) {
    ShowError(error);
    return;
  }
  SetText(Item(IDC_PROD_STATE), std::string(texts::ReportWritten) + " " + Utf8FromWide(file));
}

void ProductionWindow::DevicesChanged() {
  const std::vector<std::string> checked = CheckedPorts();
  offered_ = ProductionPorts(heldPort_());
  const RunState state = model_.State();
  if (state == RunState::Idle || state == RunState::Finished) {
    FillPortList(checked);
  } else {
    run_.PortsChanged(offered_);
  }
  Draw();
}

bool ProductionWindow::Close() {
  if (window_ == nullptr) return true;
  if (!model_.MayCloseWithoutAsking()) {
    const int answer = MessageBoxW(window_, WideFromUtf8(texts::ProductionCloseQuestion).c_str(),
                                   WideFromUtf8(texts::ProductionTitle).c_str(), MB_YESNO | MB_ICONQUESTION);
    if (answer != IDYES) return false;
    run_.Stop();
    run_.Stop();
    run_.Wait();
  }
  ShowWindow(window_, SW_HIDE);
  return true;
}

void ProductionWindow::ShowError(const std::string& text) const {
  MessageBoxW(window_, WideFromUtf8(text).c_str(), WideFromUtf8(texts::ErrorBoxTitle).c_str(), MB_OK | MB_ICONERROR);
}

// ---------------------------------------------------------------------------
// Drawing.

// The tiles fill the frame IDC_PROD_TILES, four a row.
void ProductionWindow::DrawTiles() {
  const std::vector<PortTile> tiles = model_.Tiles();
  RECT frame{};
  GetWindowRect(Item(IDC_PROD_TILES), &frame);
  MapWindowPoints(HWND_DESKTOP, window_, reinterpret_cast<POINT*>(&frame), 2);
  const int rows = std::max<int>(1, (static_cast<int>(tiles.size()) + TileColumns - 1) / TileColumns);
  const int gap = Px(TileGap);
  const int width = static_cast<int>(frame.right - frame.left - gap * (TileColumns - 1)) / TileColumns;
  const int height = std::min(Px(64), static_cast<int>(frame.bottom - frame.top - gap * (rows - 1)) / rows);
  while (tiles_.size() < tiles.size()) {
    const int id = IDC_PROD_TILE_FIRST + static_cast<int>(tiles_.size());
    tiles_.push_back(CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_OWNERDRAW, 0, 0, 0, 0, window_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr));
  }
  while (tiles_.size() > tiles.size()) {
    DestroyWindow(tiles_.back());
    tiles_.pop_back();
  }
  for (std::size_t i = 0; i < tiles_.size(); ++i) {
    const int column = static_cast<int>(i) % TileColumns, row = static_cast<int>(i) / TileColumns;
    SetWindowPos(tiles_[i], nullptr, frame.left + column * (width + gap), frame.top + row * (height + gap), width,
                 height, SWP_NOZORDER | SWP_NOACTIVATE);
    // The tile's text is its accessible name too.
    SetText(tiles_[i], PortName(tiles[i].port) + ": " + tiles[i].Text());
  }
  const bool changed = tileState_.size() != tiles.size() ||
                       !std::equal(tiles.begin(), tiles.end(), tileState_.begin(), [](const auto& a, const auto& b) {
                         return a.Text() == b.Text() && a.adapter == b.adapter;
                       });
  tileState_ = tiles;
  if (changed) {
    for (HWND tile : tiles_) InvalidateRect(tile, nullptr, TRUE);
  }
}

void ProductionWindow::DrawTile(const DRAWITEMSTRUCT& item) const {
  const std::size_t index = item.CtlID - IDC_PROD_TILE_FIRST;
  if (index >= tileState_.size()) return;
  const PortTile& tile = tileState_[index];
  const Rgb rgb = TileRgb(tile.Colour());
  HBRUSH brush = CreateSolidBrush(RGB(rgb.red, rgb.green, rgb.blue));
  FillRect(item.hDC, &item.rcItem, brush);
  DeleteObject(brush);
  FrameRect(item.hDC, &item.rcItem, GetSysColorBrush(COLOR_GRAYTEXT));
  SetBkMode(item.hDC, TRANSPARENT);
  SetTextColor(item.hDC, RGB(0, 0, 0));
  RECT line = item.rcItem;
  InflateRect(&line, -Px(4), -Px(3));
  const int lineHeight = (line.bottom - line.top) / 3;
  const auto draw = [&](const std::string& text, HFONT font) {
    HGDIOBJ old = SelectObject(item.hDC, font);
    RECT place = line;
    place.bottom = place.top + lineHeight;
    std::wstring wide = WideFromUtf8(text);
    DrawTextW(item.hDC, wide.c_str(), static_cast<int>(wide.size()), &place,
              DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(item.hDC, old);
    line.top += lineHeight;
  };
  draw(PortName(tile.port), tileBold_);
  draw(tile.adapter, tileFont_);
  draw(tile.Text(), tileFont_);
}

void ProductionWindow::Draw() {
  if (window_ == nullptr) return;
  run_.Poll();
  const RunState state = model_.State();
  const bool editable = state == RunState::Idle || state == RunState::Finished;
  for (int id : {IDC_PROD_ALL_USB, IDC_PROD_NETWORK, IDC_PROD_START, IDC_PROD_START_SPIN, IDC_PROD_KEY, IDC_PROD_COUNT,
                 IDC_PROD_REGISTRY, IDC_PROD_RUN}) {
    EnableWindow(Item(id), editable);
  }
  EnableWindow(Item(IDC_PROD_PORTS), editable && IsDlgButtonChecked(window_, IDC_PROD_ALL_USB) != BST_CHECKED);
  EnableWindow(Item(IDC_PROD_STOP), state == RunState::Running || state == RunState::Stopping);
  SetText(Item(IDC_PROD_STOP), state == RunState::Stopping ? texts::CaptionRunAbandon : texts::CaptionRunStop);
  const char* stateText = nullptr;
  switch (state) {
    case RunState::Idle: break;
    case RunState::Running: stateText = texts::RunStateRunning; break;
    case RunState::Stopping: stateText = texts::RunStateStopping; break;
    case RunState::Abandoning: stateText = texts::RunStateAbandoning; break;
    case RunState::Finished: stateText = texts::RunStateFinished; break;
  }
  if (stateText != nullptr && WindowText(Item(IDC_PROD_STATE)).rfind(texts::ReportWritten, 0) != 0) {
    SetText(Item(IDC_PROD_STATE), stateText);
  }
  const ProductionCounters counters = model_.Counters();
  SetText(Item(IDC_PROD_COUNTERS), std::string(texts::CaptionDone) + " " + std::to_string(counters.done) + "    " +
                                       texts::CaptionFailed + " " + std::to_string(counters.failed) + "    " +
                                       texts::CaptionNextAddress + " " + counters.next + "    " +
                                       texts::CaptionElapsed + " " + Elapsed(counters.elapsedSeconds) + "    " +
                                       texts::CaptionPerHour + " " + std::to_string(counters.modemsPerHour));
  DrawTiles();
  const std::vector<std::string> lines = model_.JournalLines();
  if (lines.size() != journalShown_) {
    HWND list = Item(IDC_PROD_JOURNAL);
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    HDC dc = GetDC(list);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(list, WM_GETFONT, 0, 0)));
    int widest = 0;
    for (const std::string& line : lines) {
      std::string text = line;
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      const std::wstring wide = WideFromUtf8(text);
      SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
      SIZE size{};
      GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
      widest = std::max(widest, static_cast<int>(size.cx));
    }
    SelectObject(dc, old);
    ReleaseDC(list, dc);
    SendMessageW(list, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(widest + Px(8)), 0);
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    journalShown_ = lines.size();
  }
  std::vector<std::string> messages = run_.Notes();
  const std::vector<std::string> failures = model_.Messages();
  messages.insert(messages.end(), failures.begin(), failures.end());
  if (messages.size() != messagesShown_) {
    std::string shown;
    for (const std::string& message : messages) shown += (shown.empty() ? "" : "\n") + message;
    SetText(Item(IDC_PROD_MESSAGES), shown);
    messagesShown_ = messages.size();
  }
}

}  // namespace vorsal
