// The main window against the modem simulator over a pseudo-terminal: the
// simulator started with --log on a link of the test's own, the port picked
// from the list as a user would, and helpers that run the window until the
// exchange has an outcome or read back what the modem received.
#pragma once

#include "tests/ui/main_form_fixture.h"

#include "app/identity.h"
#include "keys/hex_utils.h"
#include "support/sim_process.h"
#include "tests/support/temp_files.h"

#include <memory>
#include <optional>
#include <vector>

namespace vorsal::testing {

class SimSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    AppTitle = "Vorsal v.3.2";
    form = std::make_unique<TFormMain>(port, recorder.Hooks());
  }
  void TearDown() override {
    form.reset();
    sim.Stop();
    qunsetenv("VORSAL_EXTRA_PORTS");
  }

  void StartModem(std::vector<std::string> args = {}) {
    args.insert(args.end(), {"--link", link, "--log"});
    ASSERT_TRUE(sim.Start(VORSAL_SIM_EXE, args)) << sim.Error();
  }
  void Connect() {
    PickPort(*form, link);
    ASSERT_TRUE(port.Connected());
    ASSERT_TRUE(recorder.errors.empty());
  }

  QString Result() const { return form->StatusBar->Panel(2)->text(); }
  // Runs the window until the exchange has an outcome.
  bool AwaitResult() {
    return WaitUntil([&] { return form->Engine.ExchangeState != ExchangeNone; }, true, 10000);
  }
  // The 8 bytes of the next request the modem logged; empty when none comes
  // within timeoutMs.
  std::vector<std::uint8_t> NextRequest(int timeoutMs = 10000) {
    while (std::optional<std::string> line = sim.ReadLine(timeoutMs)) {
      if (line->rfind("rx ", 0) != 0) continue;
      std::vector<std::uint8_t> bytes(line->size());
      const int count = HexToBytes(line->substr(3), bytes.data(), static_cast<int>(bytes.size()));
      bytes.resize(static_cast<std::size_t>(count));
      return bytes;
    }
    return {};
  }
  // Command byte of the next request the modem logged.
  std::optional<int> NextRequestCommand() {
    const std::vector<std::uint8_t> request = NextRequest();
    if (request.size() < 4) return std::nullopt;
    return request[3];
  }

  test::TempDir dir;  // the test's own: the simulator's link, and any files of the test
  const std::string link = (dir / "modem").string();
  SimProcess sim;
  TComPort port;
  FormRecorder recorder;
  std::unique_ptr<TFormMain> form;
};

}  // namespace vorsal::testing
