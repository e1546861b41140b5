// The main window's rules without a toolkit: what each reply shows, what a
// command clears before its request leaves, the address write's words and
// its refusal, auto-increment within bounds, and the port failure texts.
#include "support/fake_exchange_view.h"
#include "support/pty_pair.h"
#include "support/temp_files.h"
#include "app/identity.h"
#include "window/main_window_model.h"
#include "window/port_failure.h"
#include "window/texts.h"
#include "window/window_metrics.h"

#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <utility>

#include <gtest/gtest.h>

namespace vorsal::testing {
namespace {

// Draws into plain fields. The new-address input takes whatever value it is
// given, as the Win32 window's does: keeping it within its bounds is the
// model's rule (the range only pulls in a value it already holds, as a spin
// edit does).
struct FakeSurface : WindowSurface {
  std::map<WindowDisplay, std::string> displays;
  bool service = false, working = false;
  std::map<StatusPanel, std::string> status;
  std::map<WindowPanel, bool> shown;
  std::string title;
  bool portChosen = true;
  bool gaugeTimer = false;
  GaugeColor gaugeBar = GaugeColor::Black;
  std::vector<std::function<void()>> posted;
  bool dialogOpen = false, computationOk = true;
  int computations = 0, transfers = 0;
  int clientHeight = 0;
  std::string keyText;
  int minimum = 0, maximum = 4095, value = 0;
  int network = 0;
  bool autoInc = false;
  std::vector<std::string> errors, details;
  std::vector<int> sleeps;

  void SetTitle(std::string_view text) override { title = text; }
  void SetPanelVisible(WindowPanel panel, bool visible) override { shown[panel] = visible; }
  int PanelHeight(WindowPanel panel) const override { return DesignedPanelHeight(panel); }
  void SetClientHeight(int height) override { clientHeight = height; }
  void SetDisplayText(WindowDisplay display, std::string_view text) override { displays[display] = text; }
  void SetNetworkBoxes(bool s, bool w) override { service = s, working = w; }
  void SetStatusText(StatusPanel panel, std::string_view text) override { status[panel] = text; }
  void SetGaugeMaximum(int) override {}
  void SetGaugeProgress(int) override {}
  void SetGaugeColors(GaugeColor, GaugeColor bar) override { gaugeBar = bar; }
  void SetGaugeTimerEnabled(bool enabled) override { gaugeTimer = enabled; }
  void SetPortList(const std::vector<std::string>&, int) override {}
  void ClearPortSelection() override { portChosen = false; }
  void SetKeyList(const std::vector<std::string>&) override {}
  void AddKeyName(std::string_view) override {}
  void SetKeyText(std::string_view text) override { keyText = text; }
  void ClearKeyBox() override { keyText.clear(); }
  void SetNewAddressRange(int min, int max) override {
    minimum = min, maximum = max;
    value = std::clamp(value, min, max);
  }
  void SetNewAddress(int v) override { value = v; }
  std::string KeyText() const override { return keyText; }
  std::string NewAddressText() const override { return std::to_string(value); }
  int NewNetworkIndex() const override { return network; }
  bool AutoIncrement() const override { return autoInc; }
  void ShowError(std::string_view text, std::string_view detail) override {
    errors.emplace_back(text);
    details.emplace_back(detail);
  }
  void SetBusyCursor(bool) override {}
  void Sleep(int ms) override { sleeps.push_back(ms); }
  bool OpenDocument(const std::string&) override { return true; }
  void DiscardPendingKeys() override {}
  void Post(std::function<void()> call) override { posted.push_back(std::move(call)); }
  void RunPosted() {
    for (const auto& call : std::exchange(posted, {})) call();
  }
  bool KeyDialogsReady() const override { return true; }
  bool KeyDialogOpen() const override { return dialogOpen; }
  // Each dialog runs `during` while it is open (a stop arriving mid-work),
  // and the transfer notes whether its work was to stop.
  bool RunKeyComputation() override {
    dialogOpen = true;
    if (during) during();
    dialogOpen = false;
    return ++computations, computationOk;
  }
  void RunKeyTransfer() override {
    dialogOpen = true;
    if (during) during();
    dialogOpen = false;
    ++transfers;
  }
  void CloseWindow() override { ++closes; }
  std::function<void()> during;
  int closes = 0;

  // Firmware, address, footprint, key box, then the network boxes as 0/1.
  std::string Displays() {
    return displays[WindowDisplay::Version] + "|" + displays[WindowDisplay::Address] + "|" +
           displays[WindowDisplay::Footprint] + "|" + keyText + "|" + (service ? "1" : "0") + (working ? "1" : "0");
  }
};

const std::string ClearedDisplays = "****|****|****||00";

// The model, noting the displays whenever a frame is written to the port.
class WatchedModel : public MainWindowModel {
 public:
  WatchedModel(FakeSurface& surface, TComPort& port)
      : MainWindowModel(surface, port, [] { return std::vector<std::string>{}; }), surface_(surface) {}
  int Write(const std::uint8_t* buffer, int count) override {
    displaysAtWrite.push_back(surface_.Displays());
    return MainWindowModel::Write(buffer, count);
  }
  std::vector<std::string> displaysAtWrite;

 private:
  FakeSurface& surface_;
};

class MainWindowModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppTitle = "Vorsal v.3.2";
    model.Create();
  }
  void OpenLine() {
    model.PortSelected(line.SlavePath());
    ASSERT_TRUE(port.Connected());
    surface.sleeps.clear();
  }
  // As after a failed open: no port chosen, only the tool strip.
  void ExpectFailedOpenState() {
    EXPECT_FALSE(surface.portChosen);
    EXPECT_FALSE(surface.shown[WindowPanel::Top]);
    EXPECT_FALSE(surface.shown[WindowPanel::Middle]);
    EXPECT_FALSE(surface.shown[WindowPanel::Bottom]);
    EXPECT_EQ(surface.clientHeight, 150);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(surface.status[StatusPanel::ByteCount], std::string(ByteCountText) + "0");
    EXPECT_EQ(surface.status[StatusPanel::Port], PortClosedText);
  }

  TComPort port;
  test::PtyPair line;
  FakeSurface surface;
  WatchedModel model{surface, port};
};

TEST_F(MainWindowModelTest, ParametersShowVersionPlatformNetworkAndKeyPanel) {
  struct Case {
    ParamsReply reply;
    const char* version;
    bool keyPanel;
    int height;
  };
  const Case cases[] = {
      {{2603, true, 30, 9}, "9.30", true, 389},
      {{2560, true, 31, 2}, "2.31 -- 'Ирвен-2 (MSP430F155)'", true, 389},
      {{4095, false, 5, 0}, "0.5 -- 'не поддерживается'", false, 292},
      {{43, false, 29, 8}, "8.29 -- 'Ирвен-4/Л (MSP430F2616)'", false, 292},
      {{0, true, 40, 12}, "12.40", true, 389},
  };
  EXPECT_EQ(surface.clientHeight, 150);
  OpenLine();
  EXPECT_EQ(surface.clientHeight, 176);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version);
    model.ParamsRead(c.reply);
    EXPECT_EQ(surface.displays[WindowDisplay::Version], c.version);
    EXPECT_EQ(surface.displays[WindowDisplay::Address], std::to_string(c.reply.address));
    EXPECT_EQ(surface.service, c.reply.serviceNetwork);
    EXPECT_EQ(surface.working, !c.reply.serviceNetwork);
    EXPECT_TRUE(surface.shown[WindowPanel::Middle]);
    EXPECT_EQ(surface.shown[WindowPanel::Bottom], c.keyPanel);
    EXPECT_EQ(surface.clientHeight, c.height);
  }
}

TEST_F(MainWindowModelTest, AWrittenAddressStepsTheInputWithinItsBoundsAndTheFootprintReadsHighByteFirst) {
  surface.autoInc = true;
  surface.value = 4095;
  model.AddressWritten({4095, false});
  EXPECT_EQ(surface.displays[WindowDisplay::Address], "4095");
  EXPECT_TRUE(surface.working);
  EXPECT_EQ(surface.value, 4095);

  model.FootprintRead(KeyFootprint{{0x0A, 0xBC, 0x00, 0xF1}});
  EXPECT_EQ(surface.displays[WindowDisplay::Footprint], "F1.00.BC.0A");

  model.ShowByteCountPanel(1234);
  const std::string count = surface.status[StatusPanel::ByteCount];
  EXPECT_EQ(count, " Байт принятo = 1234");
  EXPECT_EQ(count.at(count.find(" = ") - 1), 'o') << "the Latin o";
}

TEST_F(MainWindowModelTest, ReadClearsDisplaysBeforeTheRequestLeaves) {
  OpenLine();
  model.ParamsRead({5, true, 31, 2});
  model.FootprintRead(KeyFootprint{{1, 2, 3, 4}});
  surface.keyText = "name";
  ASSERT_NE(surface.Displays(), ClearedDisplays);

  model.ReadParamsClick();
  EXPECT_EQ(line.ReadMaster(8).at(3), CmdReadParams);
  EXPECT_EQ(model.displaysAtWrite.back(), ClearedDisplays);
}

TEST_F(MainWindowModelTest, WriteSendsOldAndNewWordsAndStepsTheAddress) {
  OpenLine();
  model.ParamsRead({17, true, 31, 2});
  surface.value = 4094;
  surface.network = 1;
  surface.autoInc = true;

  model.WriteAddressClick();
  const std::vector<std::uint8_t> sent = line.ReadMaster(8);
  ModemFrame expected = BuildSetAddress(AddressWord(17, 0), AddressWord(4094, 1));
  PutFrameCrc(expected.data(), 0);
  EXPECT_EQ(sent, std::vector<std::uint8_t>(expected.begin(), expected.end()));

  // The modem echoes the words: the new address is shown and stepped.
  model.AddressWritten({4094, false});
  EXPECT_EQ(surface.displays[WindowDisplay::Address], "4094");
  EXPECT_TRUE(surface.working);
  EXPECT_EQ(surface.value, 4095);
  EXPECT_TRUE(surface.errors.empty());
}

TEST_F(MainWindowModelTest, WriteWithoutValidCurrentAddressShowsWarningAndSendsNothing) {
  OpenLine();
  model.ParamsRead({17, true, 31, 2});
  model.ReadParamsClick();  // read again; the modem stays silent
  line.ReadMaster(8);

  model.WriteAddressClick();
  ASSERT_EQ(surface.errors.size(), 1u);
  EXPECT_EQ(surface.errors[0], texts::CurrentParamsInvalid);
  EXPECT_TRUE(line.ReadMaster(1, 200).empty());

  // A write that fails at the port ends in the same box, with the port's reason.
  model.AddressWritten({17, true});
  port.Close();
  model.WriteAddressClick();
  ASSERT_EQ(surface.errors.size(), 2u);
  EXPECT_EQ(surface.errors[1], surface.errors[0]);
  EXPECT_FALSE(surface.details[1].empty());
}

TEST_F(MainWindowModelTest, FailedOpenShowsBoxClearsChoiceAndHidesPanels) {
  OpenLine();
  const std::string openTitle = surface.title;
  model.ShowParametersPanels(true);
  model.Engine.ReceivedByteCount = 99;
  const std::string missing = "/nonexistent/vorsal-tty";

  model.PortSelected(missing);

  // The reason and the advice stand in the box's text, below its first line.
  ASSERT_EQ(surface.errors.size(), 1u);
  const std::string& text = surface.errors[0];
  EXPECT_EQ(text.substr(0, text.find('\n')), "Ошибка открытия COM-порта! (" + missing + ")");
  EXPECT_NE(text.substr(text.rfind('\n')).find("не найдено"), std::string::npos) << text;
  EXPECT_TRUE(surface.details[0].empty());
  ExpectFailedOpenState();
  EXPECT_EQ(surface.title, openTitle);
  // The earlier port was closed first, with its wait.
  EXPECT_EQ(surface.sleeps, std::vector<int>{500});
}

// An unplugged adapter: nothing of the lost modem stays on screen (no port in
// the title, no reply awaited whose time-out would fail later), the window
// is as after a failed open, and the user is told what happened. A report
// that belongs to an earlier open is ignored.
TEST_F(MainWindowModelTest, LostDeviceLeavesTheStateOfAFailedOpenAndSaysSo) {
  OpenLine();
  model.PortError(ErrorBit(ceIO));
  model.PortSelected(line.SlavePath());  // reopened before the report is handled
  model.PortError(1u << ceFrame);
  surface.RunPosted();
  ASSERT_TRUE(port.Connected());
  ASSERT_TRUE(surface.errors.empty());

  model.ParamsRead({300, false, 31, 2});
  ASSERT_TRUE(surface.shown[WindowPanel::Bottom]);
  model.ReadFootprintClick();
  ASSERT_TRUE(surface.gaugeTimer);
  model.PortError(ErrorBit(ceIO));
  surface.RunPosted();
  ExpectFailedOpenState();
  EXPECT_EQ(surface.Displays(), ClearedDisplays);
  EXPECT_FALSE(surface.gaugeTimer);
  EXPECT_FALSE(model.Engine.Awaiting());
  EXPECT_NE(surface.gaugeBar, GaugeColor::Maroon);
  EXPECT_EQ(surface.title, "Vorsal v.3.2 []");
  EXPECT_EQ(surface.status[StatusPanel::Exchange], "");
  ASSERT_EQ(surface.errors.size(), 1u);
  EXPECT_NE(surface.errors[0].find("потеряна"), std::string::npos);
}

// The key command: a name the key file's encoding cannot hold, and an empty
// or blank one (as a read leaves the key box), are refused before either
// dialog opens; the transfer follows a computation that ended with OK only;
// nothing starts while a key dialog is open.
TEST_F(MainWindowModelTest, KeyCommandRefusesBadNamesAndTransfersOnlyAComputedKey) {
  for (const char* typed : {"", " \t ", "ключ ✓"}) {
    surface.keyText = typed;
    model.WriteKeyClick();
  }
  EXPECT_EQ(surface.errors, (std::vector<std::string>{texts::KeyNameEmpty, texts::KeyNameEmpty,
                                                      texts::KeyNameNotCp1251}));
  EXPECT_NE(surface.details[2].find("✓"), std::string::npos) << surface.details[2];
  EXPECT_EQ(surface.computations, 0);

  surface.keyText = "ключ";
  surface.computationOk = false;
  model.WriteKeyClick();
  EXPECT_EQ(std::pair(surface.computations, surface.transfers), std::pair(1, 0));
  surface.computationOk = true;
  model.WriteKeyClick();
  EXPECT_EQ(std::pair(surface.computations, surface.transfers), std::pair(2, 1));
  surface.dialogOpen = true;
  model.WriteKeyClick();
  EXPECT_EQ(std::pair(surface.computations, surface.transfers), std::pair(2, 1));
  EXPECT_EQ(surface.errors.size(), 3u);
}

// What a stop does to a key command when it comes while dialog `at` (0 the
// computation, 1 the transfer) is open: whether the dialog's work is to stop,
// whether the window closed under the dialog, the transfers run and the
// window's closes in all.
struct StopOutcome {
  bool workStops = false, closedUnderDialog = false;
  int transfers = 0, closes = 0;
};
StopOutcome StopDuringKeyDialog(int at) {
  FakeSurface surface;
  TComPort port;
  MainWindowModel model(surface, port, [] { return std::vector<std::string>{}; });
  model.Create();
  surface.keyText = "ключ";
  StopOutcome outcome;
  surface.during = [&] {
    if (surface.computations + surface.transfers != at) return;
    model.StopRequested();
    outcome.workStops = model.Stopping();
    outcome.closedUnderDialog = surface.closes > 0;
  };
  model.WriteKeyClick();
  outcome.transfers = surface.transfers;
  outcome.closes = surface.closes;
  return outcome;
}

// A stop signal closes the window at once when no key dialog is open. One
// during the key computation ends it, and no transfer starts; one during the
// transfer lets it run to its end (a modem must not keep half a key). Either
// way the window closes once the dialog has ended.
TEST_F(MainWindowModelTest, AStopWaitsForAKeyTransferButNotForAComputation) {
  model.StopRequested();
  EXPECT_EQ(surface.closes, 1);

  const StopOutcome computation = StopDuringKeyDialog(0);
  EXPECT_TRUE(computation.workStops);
  EXPECT_FALSE(computation.closedUnderDialog);
  EXPECT_EQ(computation.transfers, 0);
  EXPECT_EQ(computation.closes, 1);

  const StopOutcome transfer = StopDuringKeyDialog(1);
  EXPECT_FALSE(transfer.closedUnderDialog) << "the window closed under a running transfer";
  EXPECT_EQ(transfer.transfers, 1);
  EXPECT_EQ(transfer.closes, 1);
}

// A group is named only where its permission bits grant read and write, and
// never root; otherwise the advice is an administrator's udev rule.
TEST(PortFailureTest, PermissionAdviceNamesOnlyAGrantingGroupOtherThanRoot) {
  const test::TempDir dir;
  const std::string path = (dir / "port").string();
  test::WriteAll(path, {});
  const group* own = ::getgrgid(::getegid());
  ASSERT_NE(own, nullptr);
  const std::string ownName = own->gr_name;

  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  std::string text = DescribePortOpenFailure(path, EACCES, "Unable to open com port (Error: 13)");
  EXPECT_NE(text.find("udev"), std::string::npos) << text;
  EXPECT_EQ(text.find("usermod"), std::string::npos);
  EXPECT_NE(text.find(path), std::string::npos);

  ASSERT_EQ(::chmod(path.c_str(), 0660), 0);
  text = DescribePortOpenFailure(path, EACCES, "");
  EXPECT_EQ(text.find("«" + ownName + "»") != std::string::npos, ::getegid() != 0) << text;

  EXPECT_EQ(ComPortDevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(ComPortDevicePath("/tmp/vorsal-modem"), "/tmp/vorsal-modem");
  EXPECT_EQ(DescribePortOpenFailure("ttyS0", ENOENT, "").find("usermod"), std::string::npos);
}

}  // namespace
}  // namespace vorsal::testing
