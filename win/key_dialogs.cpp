// The two modal key dialogs: the key computation (the key line, the bar of
// the derivation's chunks, Cancel) and the key transfer (the bar of the
// acknowledged parts, Cancel). Each begins its work from a one-shot timer
// once it is on screen; Cancel and Esc set a cancel flag that the work
// polls, and the close box is ignored while the work runs.
#include "keys/gost_hash.h"
#include "keys/key_derivation.h"
#include "platform/win32_text.h"
#include "protocol/frame.h"
#include "protocol/key_transfer.h"
#include "win/main_window.h"
#include "win/layout.h"
#include "win/resource.h"
#include "window/window_metrics.h"

#include <commctrl.h>

#include <algorithm>
#include <optional>

namespace vorsal {

namespace {
constexpr UINT_PTR TimerStart = 1;
}  // namespace

class KeyDialog : public KeyComputationView {
 public:
  KeyDialog(MainWindow& main, int clientWidth, int clientHeight, bool stopsOnExit)
      : main_(main), clientWidth_(clientWidth), clientHeight_(clientHeight), stopsOnExit_(stopsOnExit) {}

  // Shows the dialog modally; true when it ended with OK.
  bool Run(int templateId) {
    main_.keyDialogOpen_ = true;
    const INT_PTR result = DialogBoxParamW(main_.Instance(), MAKEINTRESOURCEW(templateId), main_.Handle(), Proc,
                                           reinterpret_cast<LPARAM>(this));
    main_.keyDialogOpen_ = false;
    return result == IDOK;
  }

  // KeyComputationView, shared by both dialogs.
  void ShowKeyText(std::string_view text) override {
    SetDlgItemTextW(dialog_, IDC_LABEL_HASH, platform::WideFromUtf8(text).c_str());
  }
  void ShowProgress(int chunk) override { SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETPOS, static_cast<WPARAM>(chunk), 0); }
  void Sleep(int ms) override { main_.Sleep(ms); }
  // Runs what waits: the port's events, the window's timers, Cancel.
  void Pump() override {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return;
      }
      if (IsDialogMessageW(dialog_, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  // Cancel or Esc; for the key computation also the program's end, which a
  // key transfer sees through to its last part.
  bool CancelRequested() override { return cancel_ || (stopsOnExit_ && main_.Model().Stopping()); }
  void ClearCancel() override { cancel_ = false; }

 protected:
  virtual ~KeyDialog() = default;
  // The dialog is created: its controls are set up. A refusal (its text
  // and detail) ends it with Cancel once it is on screen.
  virtual std::optional<std::string> Open(std::string* detail) = 0;
  // The work, once the dialog is on screen: IDOK or IDCANCEL.
  virtual int Work() = 0;

  MainWindow& main_;
  HWND dialog_ = nullptr;
  int dpi_ = 96;  // the dialog's, once created

 private:
  static INT_PTR CALLBACK Proc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      reinterpret_cast<KeyDialog*>(lParam)->dialog_ = dialog;
    }
    auto* self = reinterpret_cast<KeyDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
    return self == nullptr ? FALSE : self->Handle(message, wParam);
  }

  INT_PTR Handle(UINT message, WPARAM wParam) {
    switch (message) {
      case WM_INITDIALOG:
        dpi_ = WindowDpi(dialog_);
        FitToDesignedPixels(dialog_, dpi_);
        SetClientSize(dialog_, MulDiv(clientWidth_, dpi_, 96), MulDiv(clientHeight_, dpi_, 96));
        CentreOnScreen();
        main_.Guarded([this] { refusal_ = Open(&refusalDetail_); });
        SetTimer(dialog_, TimerStart, KeyDialogStartDelayMs, nullptr);
        return TRUE;
      case WM_TIMER:
        if (wParam != TimerStart || working_) return TRUE;
        KillTimer(dialog_, TimerStart);
        if (refusal_) {
          main_.ShowError(*refusal_, refusalDetail_);
          EndDialog(dialog_, IDCANCEL);
          return TRUE;
        }
        {
          working_ = true;
          int result = IDCANCEL;
          main_.Guarded([&] { result = Work(); });
          working_ = false;
          EndDialog(dialog_, result);
        }
        return TRUE;
      case WM_COMMAND:
        // Cancel and Esc: the work stops at its next check; before the work
        // the dialog ends at once.
        if (LOWORD(wParam) != IDCANCEL) return FALSE;
        if (working_) {
          cancel_ = true;
        } else {
          KillTimer(dialog_, TimerStart);
          EndDialog(dialog_, IDCANCEL);
        }
        return TRUE;
      case WM_CLOSE:
        if (!working_) EndDialog(dialog_, IDCANCEL);
        return TRUE;
      case WM_SETCURSOR:
        if (!main_.SetBusyCursorIfBusy()) return FALSE;
        SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, TRUE);
        return TRUE;
      default:
        return FALSE;
    }
  }

  void CentreOnScreen() const {
    RECT frame{}, work{};
    GetWindowRect(dialog_, &frame);
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    SetWindowPos(dialog_, nullptr, work.left + (work.right - work.left - (frame.right - frame.left)) / 2,
                 work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }

  int clientWidth_, clientHeight_;  // designed pixels
  bool stopsOnExit_;
  std::optional<std::string> refusal_;
  std::string refusalDetail_;
  bool cancel_ = false;
  bool working_ = false;
};

namespace {

class HashCalculateDialog final : public KeyDialog {
 public:
  explicit HashCalculateDialog(MainWindow& main, KeyComputation& computation)
      : KeyDialog(main, 537, 88, true), computation_(computation) {}

 private:
  std::optional<std::string> Open(std::string* detail) override {
    font_ = CreateScaledFont(dpi_, 13, false, L"Courier New", FIXED_PITCH | FF_MODERN);
    SendDlgItemMessageW(dialog_, IDC_LABEL_HASH, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    // The bar's minimum stands for no chunk done.
    SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETRANGE32, 1, KeyDerivationChunks);
    return computation_.Open(main_.KeyText(), main_.Model().KeyFile(), *this, detail);
  }
  int Work() override { return computation_.Run(*this, main_.Model()) ? IDOK : IDCANCEL; }

 public:
  ~HashCalculateDialog() override {
    if (font_ != nullptr) DeleteObject(font_);
  }

 private:
  KeyComputation& computation_;
  HFONT font_ = nullptr;
};

class KeyTransferDialog final : public KeyDialog {
 public:
  explicit KeyTransferDialog(MainWindow& main) : KeyDialog(main, 227, 69, false) {}

 private:
  std::optional<std::string> Open(std::string*) override {
    SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETRANGE32, 0, KeyPartCount);
    SendDlgItemMessageW(dialog_, IDC_PROGRESS, PBM_SETPOS, 0, 0);
    return std::nullopt;
  }
  // A port failure while sending ends in the error box and the dialog
  // ends with Cancel; the busy cursor goes either way.
  int Work() override {
    KeyTransferResult result = KeyTransferResult::Cancelled;
    main_.SetBusyCursor(true);
    try {
      result = SendKeyParts(main_.Model().Engine, BinaryKey,
                            {[this](int ms) { Sleep(ms); }, [this] { Pump(); }, [this] { return CancelRequested(); },
                             [this] { ClearCancel(); }, [this](int acknowledged) { ShowProgress(acknowledged); }, {}, {}});
    } catch (...) {
      main_.SetBusyCursor(false);
      throw;
    }
    main_.SetBusyCursor(false);
    return main_.Model().KeyTransferEnded(result) ? IDOK : IDCANCEL;
  }
};

}  // namespace

bool MainWindow::RunKeyComputation() {
  HashCalculateDialog dialog(*this, computation_);
  return dialog.Run(IDD_HASH_CALCULATE);
}

void MainWindow::RunKeyTransfer() {
  KeyTransferDialog dialog(*this);
  dialog.Run(IDD_KEY_TRANSFER);
}

}  // namespace vorsal
