// vorsal-modem-sim as a client sees it: a real pseudo-terminal opened through
// the simulator's link with raw termios, frames written and read back.
// Log lines of --log serve as the points to wait for; nothing here sleeps.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "keys/hex_utils.h"
#include "sim/modem_model.h"
#include "support/sim_process.h"
#include "tests/support/frames.h"
#include "tests/support/temp_files.h"

using namespace vorsal;
using vorsal::test::Stamped;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int TimeoutMs = 10000;

// A client port: raw 8N1 at the connection type's speed, closed on scope exit.
class Client {
 public:
  Client(const std::string& path, speed_t speed) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    tcsetattr(fd_, TCSANOW, &tio);
  }
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  bool ok() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  void Write(const Bytes& bytes) {
    ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  void Write(const ModemFrame& frame) { Write(Bytes(frame.begin(), frame.end())); }

  // Exactly `count` bytes, or fewer when they do not come in time.
  Bytes Read(std::size_t count) {
    Bytes bytes;
    while (bytes.size() < count) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, TimeoutMs) <= 0) break;
      std::uint8_t buffer[64];
      const ssize_t n = read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
      if (n <= 0) break;
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }

  // True once bytes are waiting to be read; reads none of them.
  bool AwaitData() {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, TimeoutMs) == 1;
  }

  int Waiting() const {
    int n = -1;
    ioctl(fd_, FIONREAD, &n);
    return n;
  }

 private:
  int fd_ = -1;
};

class SimPty : public ::testing::Test {
 protected:

  void Start(std::vector<std::string> args) {
    args.insert(args.begin(), {"--link", link_.string(), "--log"});
    ASSERT_TRUE(sim_.Start(VORSAL_SIM_EXE, args)) << sim_.Error();
    ASSERT_EQ(fs::read_symlink(link_).string(), sim_.DevicePath());
  }

  // Skips log lines until one starts with `prefix`; returns it.
  std::string AwaitLog(const std::string& prefix) {
    std::string passed;  // the lines read on the way, for a failure's message
    while (auto line = sim_.ReadLine(TimeoutMs)) {
      if (line->rfind(prefix, 0) == 0) return *line;
      passed += "\n  " + *line;
    }
    ADD_FAILURE() << "no log line starting with '" << prefix << "'; lines read:" << passed;
    return {};
  }

  // Declared before the simulator, so the simulator stops before its
  // directory goes.
  test::TempDir dir_;
  const fs::path link_ = dir_ / "modem";
  SimProcess sim_;
};

}  // namespace

TEST_F(SimPty, ReadParamsRoundTripWithConnectionType0) {
  Start({});
  Client client(link_.string(), B600);
  ASSERT_TRUE(client.ok());
  Bytes line{0x13, 0xE2, 0x00};  // noise first: the simulator resynchronises
  const ModemFrame request = Stamped(BuildReadParams(), 0);
  line.insert(line.end(), request.begin(), request.end());
  client.Write(line);

  const Bytes reply = client.Read(FrameSize);
  ASSERT_EQ(reply.size(), FrameSize);
  ASSERT_TRUE(CheckFrameCrc(reply.data(), 0));
  EXPECT_EQ(reply[3], CmdReadParams);
  const ParamsReply params = DecodeParamsReply(reply.data());
  EXPECT_EQ(params.address, 1);
  EXPECT_TRUE(params.serviceNetwork);
  EXPECT_EQ(params.firmwareMajor, 2);
  EXPECT_EQ(params.firmwareMinor, 31);

  EXPECT_EQ(AwaitLog("rx"), "rx B0 D1 B6 E2 00 00 00 00");
  EXPECT_EQ(AwaitLog("tx"), "tx " + BytesToHex(reply.data(), FrameSize, " "));

  EXPECT_EQ(sim_.Stop(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));
}

TEST_F(SimPty, ConnectionType1AndModemSettings) {
  Start({"--connection-type", "1", "--address", "2603", "--network", "1", "--firmware", "8.40",
         "--reply-e3"});
  Client client(link_.string(), B9600);
  ASSERT_TRUE(client.ok());
  // A request with the other checksum variant is ignored...
  client.Write(Stamped(BuildReadParams(), 0));
  // ...the right one answered, in the complemented variant.
  client.Write(Stamped(BuildReadParams(), 1));
  const Bytes reply = client.Read(FrameSize);
  ASSERT_EQ(reply.size(), FrameSize);
  EXPECT_TRUE(CheckFrameCrc(reply.data(), 1));
  EXPECT_EQ(Bytes(reply.begin() + 3, reply.end()), (Bytes{0xE3, 0x2B, 0x1A, 40, 8}));

  const ModemFrame write = Stamped(BuildSetAddress(0x1A2B, 0x0007), 1);
  client.Write(write);
  const Bytes echo = client.Read(FrameSize);
  ASSERT_EQ(echo.size(), FrameSize);
  EXPECT_TRUE(CheckFrameCrc(echo.data(), 1));
  EXPECT_TRUE(EchoMatches(echo.data(), write.data()));
  EXPECT_EQ(client.Waiting(), 0);
}

TEST_F(SimPty, DeliveryFaultsReachTheLine) {
  Start({"--stray-bytes", "3", "--split-reply", "2:5", "--delay-ms", "20", "--drop-every", "2",
         "--corrupt-every", "3"});
  Client client(link_.string(), B600);
  ASSERT_TRUE(client.ok());
  const ModemFrame request = Stamped(BuildReadFootprint(), 0);
  auto receive = [&](std::size_t count) {
    FrameCutter cutter(0);
    std::vector<ModemFrame> frames;
    ModemFrame frame;
    for (std::uint8_t b : client.Read(count))
      if (cutter.Push(b, frame)) frames.push_back(frame);
    EXPECT_EQ(cutter.SkippedBytes(), 3);
    return frames;
  };

  client.Write(request);  // reply 1: stray bytes, split, delayed
  auto frames = receive(3 + FrameSize);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(test::FootprintText(frames[0].data()), "0B.2A.E4.45");

  client.Write(request);  // reply 2: dropped
  EXPECT_EQ(AwaitLog("tx").find("(dropped"), std::string::npos);  // reply 1
  EXPECT_NE(AwaitLog("tx").find("(dropped"), std::string::npos);  // reply 2

  client.Write(request);  // reply 3: corrupted, so the receiver finds nothing
  FrameCutter cutter(0);
  ModemFrame frame;
  long found = 0;
  for (std::uint8_t b : client.Read(3 + FrameSize)) found += cutter.Push(b, frame);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(cutter.SkippedBytes(), 3 + 1);

  client.Write(request);  // reply 4: dropped; reply 5 arrives alone
  client.Write(request);
  EXPECT_EQ(receive(3 + FrameSize).size(), 1u);
  EXPECT_EQ(client.Waiting(), 0);
}

TEST_F(SimPty, EchoAndAcknowledgementFaultsReachTheLine) {
  Start({"--wrong-echo", "--no-ack-part", "1", "--ack-part-with-previous", "2"});
  Client client(link_.string(), B600);
  ASSERT_TRUE(client.ok());
  const ModemFrame write = Stamped(BuildSetAddress(0x0001, 0x0002), 0);
  client.Write(write);
  const Bytes echo = client.Read(FrameSize);
  ASSERT_EQ(echo.size(), FrameSize);
  EXPECT_FALSE(EchoMatches(echo.data(), write.data()));

  ModemKey key;
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(i + 1);
  const std::uint8_t expectedCommand[] = {0xE8, 0, 0xE9};  // part 2 acknowledged as part 1
  for (int part : {0, 1, 2}) {
    const ModemFrame request = Stamped(BuildKeyPart(part, key.data()), 0);
    client.Write(request);
    if (part == 1) {  // received, and no reply follows
      AwaitLog("rx " + BytesToHex(request.data(), FrameSize, " "));
      continue;
    }
    const Bytes ack = client.Read(FrameSize);
    ASSERT_EQ(ack.size(), FrameSize);
    EXPECT_EQ(ack[3], expectedCommand[part]) << part;
    EXPECT_TRUE(EchoMatches(ack.data(), request.data())) << part;
  }
  EXPECT_EQ(client.Waiting(), 0);
}

TEST_F(SimPty, ClientsComeAndGo) {
  Start({});
  const ModemFrame params = Stamped(BuildReadParams(), 0);
  {
    // A client that claims exclusive use and leaves without reading its reply.
    Client first(link_.string(), B600);
    ASSERT_TRUE(first.ok());
    ASSERT_EQ(ioctl(first.fd(), TIOCEXCL), 0);
    first.Write(Stamped(BuildReadFootprint(), 0));
    ASSERT_TRUE(first.AwaitData());
  }
  // The simulator learns of the close a moment later; a client that opens
  // within that moment could still see the stale reply.
  AwaitLog("the last client closed");
  Client second(link_.string(), B600);
  ASSERT_TRUE(second.ok());
  second.Write(params);
  const Bytes reply = second.Read(FrameSize);
  ASSERT_EQ(reply.size(), FrameSize);
  EXPECT_EQ(reply[3], CmdReadParams);  // not the first client's stale footprint
  int exclusive = -1;
  ASSERT_EQ(ioctl(second.fd(), TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 0);  // the first client's claim ended with it
}

// A client that opens the moment the last one closed (before the simulator
// can see the line without a client) gets none of the replies left unread:
// the close is noticed all the same and the line cleared.
TEST_F(SimPty, NoGapBetweenClientsStillDiscardsUnreadReplies) {
  Start({});
  auto first = std::make_unique<Client>(link_.string(), B600);
  ASSERT_TRUE(first->ok());
  for (int i = 0; i < 64; ++i) first->Write(Stamped(BuildReadFootprint(), 0));
  for (int i = 0; i < 64; ++i) AwaitLog("rx");  // all asked before the close
  first.reset();
  Client second(link_.string(), B600);
  ASSERT_TRUE(second.ok());
  AwaitLog("the last client closed");
  second.Write(Stamped(BuildReadParams(), 0));
  EXPECT_EQ(second.Read(FrameSize).at(3), CmdReadParams);
  EXPECT_EQ(second.Waiting(), 0);
}

// Clients that overlap share the line: one that stays open is served while
// others open and close around it, and the last one to go leaves nothing
// behind for the next.
TEST_F(SimPty, OverlappingClientsAreEachServed) {
  Start({});
  const ModemFrame params = Stamped(BuildReadParams(), 0);
  // Two clients open while the simulator is held still, so that it learns of
  // both opens only afterwards, at once; the second one's close must then not
  // be taken for the last one's and clear the reply the first has not read.
  ASSERT_EQ(kill(sim_.Pid(), SIGSTOP), 0);
  auto first = std::make_unique<Client>(link_.string(), B600);
  auto early = std::make_unique<Client>(link_.string(), B600);
  ASSERT_EQ(kill(sim_.Pid(), SIGCONT), 0);
  ASSERT_TRUE(first->ok() && early->ok());
  first->Write(params);
  AwaitLog("tx");  // the reply waits unread on the line
  early.reset();
  first->Write(params);
  AwaitLog("rx");  // the close was seen before this request was read
  EXPECT_EQ(first->Read(2 * FrameSize).size(), 2 * FrameSize);
  for (int round = 0; round < 40; ++round) {
    Client other(link_.string(), B600);
    ASSERT_TRUE(other.ok());
    first->Write(params);
    ASSERT_EQ(first->Read(FrameSize).size(), FrameSize) << "round " << round;
  }
  Client second(link_.string(), B600);  // opens before the first closes
  ASSERT_TRUE(second.ok());
  first.reset();
  second.Write(params);
  const Bytes reply = second.Read(FrameSize);
  ASSERT_EQ(reply.size(), FrameSize);
  EXPECT_EQ(reply[3], CmdReadParams);
  EXPECT_EQ(second.Waiting(), 0);
}

TEST_F(SimPty, StaleLinkIsReplacedButAFileIsNot) {
  fs::create_symlink("/nonexistent/device", link_);
  Start({});
  EXPECT_EQ(sim_.Stop(), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link_)));

  test::WriteAll(link_, "keep me");
  SimProcess refused;
  EXPECT_FALSE(refused.Start(VORSAL_SIM_EXE, {"--link", link_.string()}));
  EXPECT_EQ(refused.Stop(), 1);
  EXPECT_EQ(test::ReadAll(link_), "keep me");
}
