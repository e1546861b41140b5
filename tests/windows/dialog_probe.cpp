// Walks the installer's and the uninstaller's pages under Wine by window
// messages and checks what they show. Each argument is one step, run in
// order; a step that waits gives up after 30 s and the probe exits with 1.
//   window PREFIX   wait for a top-level window whose title starts with PREFIX
//   title TEXT      wait until its title is exactly TEXT
//   shows TEXT      wait until one of its controls shows a text holding TEXT
//   click ID        press its button ID (the wizards' "Next" is 1)
//   gone            wait until it has closed
#include "platform/win32_text.h"
#include "tests/windows/driver_support.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

using vorsal::platform::Utf8FromWide;
using vorsal::platform::WideFromUtf8;
using vorsal::test::Fail;
using vorsal::test::FindChild;
using vorsal::test::FindTopLevel;
using vorsal::test::Text;
using vorsal::test::WaitFor;

HWND wizard = nullptr;

// The texts of the visible controls, the pages' own dialogs' included.
std::string ShownTexts(HWND window) {
  std::string texts;
  FindChild(window, [&](HWND child) {
    if (IsWindowVisible(child)) texts += Text(child) + "\n";
    return false;
  });
  return texts;
}

std::string Arg(wchar_t** argv, int argc, int i) {
  if (i >= argc) Fail("a step lacks its argument");
  return Utf8FromWide(argv[i]);
}

}  // namespace

int main() {
  vorsal::test::driverName = "dialog_probe";
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  for (int i = 1; i < argc; ++i) {
    const std::string step = Utf8FromWide(argv[i]);
    if (step != "window" && wizard == nullptr) Fail("no window found before " + step);
    if (step == "window") {
      const std::string prefix = Arg(argv, argc, ++i);
      if (!WaitFor([&] { return (wizard = FindTopLevel(WideFromUtf8(prefix))) != nullptr; })) Fail("no window '" + prefix + "...'");
    } else if (step == "title") {
      const std::string wanted = Arg(argv, argc, ++i);
      if (!WaitFor([&] { return Text(wizard) == wanted; })) {
        Fail("title '" + Text(wizard) + "', expected '" + wanted + "'");
      }
    } else if (step == "shows") {
      const std::string wanted = Arg(argv, argc, ++i);
      if (!WaitFor([&] { return ShownTexts(wizard).find(wanted) != std::string::npos; })) {
        Fail("no control shows '" + wanted + "'; shown:\n" + ShownTexts(wizard));
      }
    } else if (step == "click") {
      const int id = std::stoi(Arg(argv, argc, ++i));
      HWND button = nullptr;
      if (!WaitFor([&] { return (button = GetDlgItem(wizard, id)) != nullptr && IsWindowEnabled(button); })) {
        Fail("no button " + std::to_string(id));
      }
      PostMessageW(button, BM_CLICK, 0, 0);
    } else if (step == "gone") {
      if (!WaitFor([] { return IsWindow(wizard) == FALSE; })) Fail("the window stays");
    } else {
      Fail("unknown step " + step);
    }
  }
  return 0;
}
