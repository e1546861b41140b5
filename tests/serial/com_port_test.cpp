#include "platform/posix_tty.h"
#include "serial/com_port.h"
#include "serial/port_diagnosis.h"
#include "support/event_pump.h"
#include "support/pty_pair.h"
#include "support/temp_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <numeric>
#include <sstream>
#include <thread>

namespace vorsal {
namespace {

using platform::LineRate;
using test::PtyPair;
using test::PumpFor;
using test::WaitUntil;
using Bytes = std::vector<std::uint8_t>;

Bytes Sequence(std::size_t count) {
  Bytes bytes(count);
  std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
  return bytes;
}

// Runs `action` and returns the EComPort it raised.
template <class Action>
EComPort Raised(Action action) {
  try {
    action();
  } catch (const EComPort& e) {
    return e;
  }
  ADD_FAILURE() << "no EComPort raised";
  return EComPort(0);
}

// A queue whose calls wait until the test runs them: a call posted to it is
// a batch the event thread hands over and waits for.
class HeldQueue : public EventQueue {
 public:
  void Post(std::function<void()> call) override {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
  }
  std::size_t Waiting() {
    std::lock_guard lock(mutex_);
    return calls_.size();
  }
  void RunAll() {
    std::deque<std::function<void()>> calls;
    {
      std::lock_guard lock(mutex_);
      calls.swap(calls_);
    }
    for (auto& call : calls) call();
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> calls_;
};

// What the process's threads other than the calling one have done so far:
// the times they went to sleep and their CPU time in clock ticks, summed. A
// thread that sleeps in its wait adds neither; one that wakes again and again
// adds sleeps, one that spins adds CPU time. (Being preempted, as a busy
// machine does to any thread, is not counted.)
struct ThreadActivity {
  long switches = 0;
  long ticks = 0;
};
ThreadActivity OtherThreads() {
  ThreadActivity total;
  const std::string self = std::to_string(gettid());
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    if (task.path().filename() == self) continue;
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) total.switches += std::stol(line.substr(line.find(':') + 1));
    }
    std::ifstream statFile(task.path() / "stat");
    std::stringstream stat;
    stat << statFile.rdbuf();
    // After the command's name in parentheses: state, then utime and stime
    // as the 12th and 13th fields.
    const std::string text = stat.str();
    if (text.rfind(')') == std::string::npos) continue;
    std::istringstream fields(text.substr(text.rfind(')') + 1));
    std::string field;
    for (int i = 1; i <= 13 && fields >> field; ++i) {
      if (i >= 12) total.ticks += std::stol(field);
    }
  }
  return total;
}

// True when the other threads stayed asleep while this one pumped for `ms`
// (one sleep is allowed: a thread just started that goes to sleep).
bool OthersSleepWhilePumping(int ms) {
  PumpFor(20);  // a thread just started reaches its wait
  const ThreadActivity before = OtherThreads();
  PumpFor(ms);
  const ThreadActivity after = OtherThreads();
  EXPECT_LE(after.switches - before.switches, 1);
  EXPECT_LE(after.ticks - before.ticks, 1);
  return after.switches - before.switches <= 1 && after.ticks - before.ticks <= 1;
}

// Drops every handler of `port`.
void ClearHandlers(TCustomComPort& port) {
  port.OnRxChar = nullptr;
  port.OnError = nullptr;
  for (TCustomComPort::TNotifyEvent* handler :
       {&port.OnTxEmpty, &port.OnBreak, &port.OnRing, &port.OnRxFlag, &port.OnRx80Full,
        &port.OnBeforeOpen, &port.OnAfterOpen, &port.OnBeforeClose, &port.OnAfterClose}) {
    *handler = nullptr;
  }
  for (TCustomComPort::TLineEvent* handler : {&port.OnCTSChange, &port.OnDSRChange, &port.OnRLSDChange}) {
    *handler = nullptr;
  }
}

class ComPortTest : public ::testing::Test {
 protected:
  void SetUp() override { port_.SetPort(pty_.SlavePath()); }
  // Handlers capture the test body's locals by reference, and the port's
  // destructor closes it (running the close handlers) after those locals are
  // gone: the handlers go first.
  void TearDown() override { ClearHandlers(port_); }

  PtyPair pty_;
  TComPort port_{&test::PortEvents()};
};

TEST_F(ComPortTest, OpensAt600Baud8N1RawWithoutFlowControl) {
  int beforeOpen = 0;
  port_.OnBeforeOpen = [&](TCustomComPort*) { ++beforeOpen; };
  port_.SetBaudRate(br600);
  port_.Open();
  port_.Open();  // already open: nothing happens
  ASSERT_TRUE(port_.Connected());
  EXPECT_EQ(beforeOpen, 1);

  const termios tio = pty_.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&tio), B600);
  EXPECT_EQ(cfgetispeed(&tio), B600);
  EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t{CS8});
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD});
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | INPCK | ISTRIP), 0u);
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);

  int afterClose = 0;
  port_.OnAfterClose = [&](TCustomComPort*) { ++afterClose; };
  port_.Close();
  port_.Close();  // already closed: nothing happens
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(afterClose, 1);
}

TEST_F(ComPortTest, SettersApplyAtOnceWhileOpen) {
  port_.Open();
  port_.SetBaudRate(br9600);  // the default: nothing to do
  port_.SetBaudRate(br600);
  const termios slow = pty_.SlaveSettings();
  EXPECT_EQ(cfgetospeed(&slow), B600);
  port_.SetBaudRate(br14400);  // no fixed constant for this one
  EXPECT_EQ(LineRate(pty_.Master()), 14400u);

  port_.SetStopBits(sbTwoStopBits);
  port_.FlowControl().SetXonXoffIn(true);
  termios tio = pty_.SlaveSettings();
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
  EXPECT_NE(tio.c_iflag & IXOFF, 0u);
  EXPECT_EQ(tio.c_iflag & IXON, 0u);
  EXPECT_EQ(LineRate(pty_.Master()), 14400u);  // the other settings kept the odd rate

  // Refused by the system (a pseudo-terminal has no parity): the value stays
  // stored, the port stays open with the line as it was.
  const EComPort refused = Raised([&] { port_.Parity().SetBits(prEven); });
  EXPECT_EQ(refused.Code(), CE_SetStateFailed);
  EXPECT_EQ(refused.SystemCode(), EINVAL);
  EXPECT_EQ(port_.Parity().Bits(), prEven);
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(Raised([&] { port_.SetStopBits(sbOne5StopBits); }).Code(), CE_SetStateFailed);
  tio = pty_.SlaveSettings();
  EXPECT_EQ(tio.c_cflag & PARENB, 0u);
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);
}

TEST_F(ComPortTest, MissingDeviceFailsWithTheSystemCodeAndOpenTriesAgain) {
  const test::TempDir dir;
  const std::filesystem::path link = dir / "port";
  port_.SetPort(link.string());
  const EComPort missing = Raised([&] { port_.Open(); });
  EXPECT_EQ(missing.Code(), CE_OpenFailed);
  EXPECT_EQ(missing.SystemCode(), ENOENT);
  EXPECT_STREQ(missing.what(), "Unable to open com port (Error: 2)");
  EXPECT_FALSE(port_.Connected());
  EXPECT_EQ(Raised([&] { port_.Write("x", 1); }).Code(), CEPortNotOpen);

  std::filesystem::create_symlink(pty_.SlavePath(), link);
  port_.Open();
  EXPECT_TRUE(port_.Connected());
  port_.Close();
}

TEST_F(ComPortTest, DeviceIsOpenedExclusively) {
  port_.Open();
  TComPort second;
  second.SetPort(pty_.SlavePath());
  const EComPort busy = Raised([&] { second.Open(); });
  EXPECT_EQ(busy.Code(), CE_OpenFailed);
  EXPECT_TRUE(busy.SystemCode() == EWOULDBLOCK || busy.SystemCode() == EBUSY) << busy.what();
  EXPECT_FALSE(second.Connected());

  // Any other opener that asks for the device, this process or another.
  const int other = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (other >= 0) {  // refused outright without privileges
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
  }

  port_.Close();
  second.Open();
  EXPECT_TRUE(second.Connected());
}

// A terminal program that opened the device earlier and took no lock still
// shares the line: the port refuses to open, and the diagnosis names it.
TEST_F(ComPortTest, DeviceHeldByAnotherProcessIsRefusedAndItsHolderNamed) {
  int ready[2];
  int release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(release[1]);
    const int fd = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    char byte = fd >= 0 ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    (void)!::read(release[0], &byte, 1);
    ::_exit(0);
  }
  char opened = 0;
  ASSERT_EQ(::read(ready[0], &opened, 1), 1);
  ASSERT_EQ(opened, 'y');

  const EComPort held = Raised([&] { port_.Open(); });
  const PortOpenDiagnosis diagnosis = DiagnosePortOpen(pty_.SlavePath(), held.SystemCode());
  ::close(release[1]);
  ::waitpid(child, nullptr, 0);
  for (int fd : {ready[0], ready[1], release[0]}) ::close(fd);

  EXPECT_EQ(held.Code(), CE_OpenFailed);
  EXPECT_EQ(held.SystemCode(), EBUSY);
  EXPECT_FALSE(port_.Connected());
  EXPECT_TRUE(diagnosis.busy);
  ASSERT_EQ(diagnosis.holders.size(), 1u);
  EXPECT_EQ(diagnosis.holders[0].pid, child);
  EXPECT_FALSE(diagnosis.holders[0].command.empty());

  // This process's own descriptors (the pair keeps the slave open) never count.
  port_.Open();
  EXPECT_TRUE(port_.Connected());
}

TEST_F(ComPortTest, ClosedPortRefusesReadAndWrite) {
  const EComPort read = Raised([&] {
    char buffer[4];
    port_.Read(buffer, 4);
  });
  const EComPort write = Raised([&] { port_.Write("abc", 3); });
  for (const EComPort& e : {read, write}) {
    EXPECT_EQ(e.Code(), CEPortNotOpen);
    EXPECT_EQ(e.SystemCode(), -1);
    EXPECT_STREQ(e.what(), "Port Not Open");
  }
  EXPECT_EQ(port_.InputCount(), 0);
}

TEST_F(ComPortTest, SyncMethodCannotChangeWhileOpen) {
  port_.SetSyncMethod(smNone);
  port_.SetSyncMethod(smThreadSync);
  port_.Open();
  const EComPort e = Raised([&] { port_.SetSyncMethod(smWindowSync); });
  EXPECT_EQ(e.Code(), CE_ConnChangeProp);
  EXPECT_STREQ(e.what(), "Cannot set property while connected");
  EXPECT_EQ(port_.SyncMethod(), smThreadSync);
}

TEST_F(ComPortTest, ReadNeverWaitsAndTakesAtMostCount) {
  port_.Open();
  std::uint8_t buffer[256];
  EXPECT_EQ(port_.Read(buffer, 256), 0);

  const Bytes sent = Sequence(300);
  pty_.WriteMaster(sent);
  ASSERT_TRUE(WaitUntil([&] { return port_.InputCount() == 300; }, false));
  ASSERT_EQ(port_.Read(buffer, 256), 256);
  EXPECT_EQ(Bytes(buffer, buffer + 256), Bytes(sent.begin(), sent.begin() + 256));
  EXPECT_EQ(port_.InputCount(), 44);
  ASSERT_EQ(port_.Read(buffer, 256), 44);
  EXPECT_EQ(Bytes(buffer, buffer + 44), Bytes(sent.begin() + 256, sent.end()));
}

TEST_F(ComPortTest, WriteSendsEveryByteAndReportsTheEmptyQueue) {
  int txEmpty = 0;
  port_.OnTxEmpty = [&](TCustomComPort*) { ++txEmpty; };
  port_.SetBaudRate(br600);
  port_.Open();
  const Bytes frame{0x12, 0x34, 0x56, 0xE2, 0x00, 0xFF, 0x0D, 0x0A};
  EXPECT_EQ(port_.Write(frame.data(), 8), 8);
  EXPECT_EQ(pty_.ReadMaster(8), frame);
  EXPECT_TRUE(WaitUntil([&] { return txEmpty == 1; }));
}

TEST_F(ComPortTest, WriteStopsWhenItsTimeOutRunsOut) {
  port_.Timeouts().SetWriteTotalMultiplier(0);
  port_.Timeouts().SetWriteTotalConstant(50);
  port_.Open();
  // Nobody reads the master, so its queue fills up.
  const Bytes big(1 << 20, 0x55);
  const int written = port_.Write(big.data(), static_cast<int>(big.size()));
  EXPECT_GT(written, 0);
  EXPECT_LT(written, static_cast<int>(big.size()));
}

TEST_F(ComPortTest, PortNameChangeWhileOpenReopensElsewhere) {
  int closes = 0;
  port_.OnAfterClose = [&](TCustomComPort*) { ++closes; };
  port_.Open();
  port_.SetPort(pty_.SlavePath());  // same name: nothing happens
  EXPECT_EQ(closes, 0);

  PtyPair other;
  port_.SetPort(other.SlavePath());
  EXPECT_EQ(closes, 1);
  ASSERT_TRUE(port_.Connected());
  port_.Write("hi", 2);
  EXPECT_EQ(other.ReadMaster(2), (Bytes{'h', 'i'}));

  TComPort first;  // the first device was released
  first.SetPort(pty_.SlavePath());
  first.Open();
  EXPECT_TRUE(first.Connected());
}

// ---- the event thread and the hand-over ----

TEST_F(ComPortTest, IdlePortNeverWakesItsThread) {
  port_.Open();
  EXPECT_TRUE(OthersSleepWhilePumping(100));
}

TEST_F(ComPortTest, ReceivedCharactersAreDeliveredOnTheOwningThread) {
  Bytes received;
  bool onGuiThread = true;
  const std::thread::id owner = std::this_thread::get_id();
  port_.OnRxChar = [&](TCustomComPort* sender, int count) {
    EXPECT_EQ(sender, &port_);
    EXPECT_GE(count, 1);
    onGuiThread = onGuiThread && std::this_thread::get_id() == owner;
    std::uint8_t buffer[256];
    const int n = sender->Read(buffer, 256);
    received.insert(received.end(), buffer, buffer + n);
  };
  port_.Open();
  pty_.WriteMaster(Sequence(5));
  ASSERT_TRUE(WaitUntil([&] { return received.size() == 5; }));
  pty_.WriteMaster(Sequence(3));
  ASSERT_TRUE(WaitUntil([&] { return received.size() == 8; }));
  EXPECT_TRUE(onGuiThread);
}

TEST_F(ComPortTest, DeliveryOfBytesAlreadyTakenCallsNoHandler) {
  HeldQueue held;
  int calls = 0;
  port_.OnRxChar = [&](TCustomComPort*, int) { ++calls; };
  port_.SetEventQueue(&held);
  port_.Open();
  pty_.WriteMaster(Sequence(4));
  ASSERT_TRUE(WaitUntil([&] { return held.Waiting() == 1; }));
  std::uint8_t buffer[8];
  ASSERT_EQ(port_.Read(buffer, 8), 4);
  held.RunAll();
  EXPECT_EQ(calls, 0);
  port_.Close();
}

TEST_F(ComPortTest, CloseRunsTheDeliveryItsThreadWaitsFor) {
  HeldQueue held;
  int calls = 0;
  port_.OnRxChar = [&](TCustomComPort* sender, int count) {
    ++calls;
    std::uint8_t buffer[16];
    EXPECT_EQ(sender->Read(buffer, 16), count);
  };
  port_.SetEventQueue(&held);
  port_.Open();
  pty_.WriteMaster(Sequence(6));
  ASSERT_TRUE(WaitUntil([&] { return held.Waiting() == 1; }));
  port_.Close();
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(port_.Connected());
  held.RunAll();  // the queued call that Close pre-empted finds nothing to do
  EXPECT_EQ(calls, 1);
}

// A batch handed to a queue and waiting there while the port is left
// without one is delivered through the queue set later.
TEST_F(ComPortTest, BatchWaitingForAQueueIsDeliveredThroughTheQueueSetLater) {
  HeldQueue held;
  int calls = 0;
  port_.OnRxChar = [&](TCustomComPort* sender, int) {
    ++calls;
    std::uint8_t buffer[16];
    sender->Read(buffer, 16);
  };
  port_.SetEventQueue(&held);
  port_.Open();
  pty_.WriteMaster(Sequence(3));
  ASSERT_TRUE(WaitUntil([&] { return held.Waiting() == 1; }));
  port_.SetEventQueue(nullptr);
  PumpFor(20);
  EXPECT_EQ(calls, 0);
  port_.SetEventQueue(&test::PortEvents());
  EXPECT_TRUE(WaitUntil([&] { return calls == 1; }));
  held.RunAll();  // the old queue's call finds the batch delivered
  EXPECT_EQ(calls, 1);
}

TEST_F(ComPortTest, DestroyingAPortWhoseThreadWaitsReturns) {
  HeldQueue held;
  auto port = std::make_unique<TComPort>(&held);
  port->SetPort(pty_.SlavePath());
  port->Open();
  pty_.WriteMaster(Sequence(2));
  ASSERT_TRUE(WaitUntil([&] { return held.Waiting() == 1; }));
  port.reset();
  held.RunAll();  // a call for a port that is gone does nothing
}

TEST_F(ComPortTest, HandlerMayCloseThePort) {
  int calls = 0;
  port_.OnRxChar = [&](TCustomComPort* sender, int) {
    ++calls;
    sender->Close();
  };
  port_.Open();
  pty_.WriteMaster(Sequence(3));
  ASSERT_TRUE(WaitUntil([&] { return !port_.Connected(); }));
  EXPECT_EQ(calls, 1);
  port_.Open();  // and the port opens again afterwards
  pty_.WriteMaster(Sequence(1));
  EXPECT_TRUE(WaitUntil([&] { return calls == 2; }));
}

TEST_F(ComPortTest, RaisingHandlerLeavesThePortDeafUntilReopened) {
  int calls = 0;
  port_.OnRxChar = [&](TCustomComPort* sender, int) {
    ++calls;
    std::uint8_t buffer[16];
    sender->Read(buffer, 16);
    throw std::runtime_error("handler failed");
  };
  port_.Open();
  pty_.WriteMaster(Sequence(2));
  ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));

  pty_.WriteMaster(Sequence(2));
  PumpFor(50);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(port_.Connected());
  EXPECT_EQ(port_.InputCount(), 2);

  port_.Close();
  port_.Open();
  pty_.WriteMaster(Sequence(1));
  EXPECT_TRUE(WaitUntil([&] { return calls == 2; }));
}

TEST_F(ComPortTest, HangUpIsReportedOnceAndNotSpunOn) {
  std::vector<TComErrors> errors;
  port_.OnError = [&](TCustomComPort*, TComErrors e) { errors.push_back(e); };
  port_.Open();
  pty_.CloseMaster();
  ASSERT_TRUE(WaitUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors.front(), ErrorBit(ceIO));

  EXPECT_TRUE(OthersSleepWhilePumping(100));
  EXPECT_EQ(errors.size(), 1u);
  EXPECT_TRUE(port_.Connected());
  port_.Close();  // a device that is gone still closes
  EXPECT_FALSE(port_.Connected());
}

TEST_F(ComPortTest, HangUpHandlerMayCloseThePort) {
  port_.OnError = [&](TCustomComPort* sender, TComErrors) { sender->Close(); };
  port_.Open();
  pty_.CloseMaster();
  EXPECT_TRUE(WaitUntil([&] { return !port_.Connected(); }));
}

}  // namespace
}  // namespace vorsal
