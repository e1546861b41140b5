// vorsal-modem-sim: serves the modem model on a pseudo-terminal.
//
// The simulator keeps only the master side open: a modem on the line is no
// user of the port, and a program that looks for other holders of the device
// before it opens it must not find the simulator. The master alone keeps the
// pseudo-terminal alive. While no client has the slave open, the master
// reports a hang-up at once and reads on it fail, so the simulator then
// waits on an inotify watch of the slave device instead of the master, and
// looks at the master again whenever a client opens or closes it. The master
// itself says whether any client is there at a given moment. A client that
// closes and another that opens at once leave the master no moment without
// a client the simulator could see, so the watch's open and close events
// are counted as well: a close that leaves none open by that count ends the
// line's use just the same. The count must be exact, and the watch merges
// an event with an identical one queued unread just before it: two clients
// opening back to back would be one open, and the second one's close would
// be taken for the last. The device's directory is therefore watched too;
// it reports every open and close of the device as well, between the
// device's own events, so no two of those are ever adjacent in the queue.
// When the last client has gone, the simulator drops the replies nobody
// will read and clears whatever that client left on the line (unread input,
// its claim of exclusive use), before it reads what the next client sends.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "app/program_paths.h"
#include "sim/modem_model.h"
#include "sim/sim_args.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace vorsal;

volatile sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

// Puts a symbolic link to `target` at `link` atomically. An existing
// symbolic link (left by an earlier run) is replaced; anything else at that
// path is kept and refused, so a mistyped --link never destroys a file.
bool PlaceLink(const std::string& link, const std::string& target, std::string& error) {
  struct stat st {};
  if (lstat(link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode)) {
    error = link + " exists and is not a symbolic link; not replacing it";
    return false;
  }
  const std::string temp = link + ".tmp" + std::to_string(getpid());
  unlink(temp.c_str());
  if (symlink(target.c_str(), temp.c_str()) != 0) {
    error = SystemError("cannot create link " + temp);
    return false;
  }
  if (rename(temp.c_str(), link.c_str()) != 0) {
    error = SystemError("cannot place link " + link);
    unlink(temp.c_str());
    return false;
  }
  return true;
}

// Removes the link only while it still points at our device: a second
// simulator may have taken the path over meanwhile.
void RemoveLink(const std::string& link, const std::string& target) {
  char buffer[PATH_MAX];
  const ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
  if (n >= 0 && std::string(buffer, n) == target) unlink(link.c_str());
}

void Print(const std::string& line) {
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

class Frontend {
 public:
  explicit Frontend(const SimArgs& args) : args_(args), model_(args.modem) {}
  ~Frontend();
  bool Open(std::string& error);
  bool Serve(const sigset_t& waitMask, std::string& error);
  const std::string& DevicePath() const { return devicePath_; }

 private:
  struct Pending {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
    std::size_t written = 0;
    std::string logLine;  // printed once the last byte is written; empty on other chunks
  };

  bool CreatePty(std::string& error);
  bool ClientPresent() const;
  void Watch();
  void ReadInput();
  bool ReadWatch();
  void LastClientLeft();
  void ClientsChanged();
  void ReleaseLine();
  void DropPending(const char* reason);
  void WriteDue();

  const SimArgs& args_;
  ModemModel model_;
  int master_ = -1;
  int watch_ = -1;
  int deviceWatch_ = -1;    // the watch's descriptor of the device; its directory has another
  bool connected_ = false;  // some client has the slave open
  int clients_ = 0;         // clients open by the watch's events
  int ownOpens_ = 0;        // the simulator's own opens and closes of the slave, not clients'
  int ownCloses_ = 0;
  std::string devicePath_;
  std::deque<Pending> pending_;
  std::size_t pendingBytes_ = 0;
};

// Replies held back from a client that writes and never reads are capped.
constexpr std::size_t MaxPendingBytes = 1 << 20;
// Without an inotify watch the master is looked at this often while no
// client is there (it reports a hang-up at once, so it cannot be waited on).
constexpr long UnwatchedPollNs = 50'000'000;

Frontend::~Frontend() {
  if (watch_ >= 0) close(watch_);
  if (master_ >= 0) close(master_);
}

bool Frontend::Open(std::string& error) {
  if (!CreatePty(error)) return false;
  Watch();
  if (watch_ < 0) {
    std::fprintf(stderr, "vorsal-modem-sim: %s; looking for clients every %ld ms\n",
                 SystemError("inotify").c_str(), UnwatchedPollNs / 1000000);
  }
  return true;
}

// A new watch of the device and of its directory. Without the directory's
// watch (not readable), opens that follow each other unread may be counted
// as one; the master still notices the last client's going.
void Frontend::Watch() {
  if (watch_ >= 0) close(watch_);
  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ < 0) return;
  deviceWatch_ = inotify_add_watch(watch_, devicePath_.c_str(), IN_OPEN | IN_CLOSE);
  if (deviceWatch_ < 0) {
    close(watch_);
    watch_ = -1;
    return;
  }
  const std::string directory = devicePath_.substr(0, devicePath_.rfind('/') + 1);
  inotify_add_watch(watch_, directory.c_str(), IN_OPEN | IN_CLOSE);
}

// A new pseudo-terminal whose slave is set up as the modem's line and then
// closed again.
bool Frontend::CreatePty(std::string& error) {
  int slave = -1;
  if (openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) {
    error = SystemError("openpty");
    return false;
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  char name[PATH_MAX];
  bool ok = ttyname_r(slave, name, sizeof name) == 0;
  if (!ok) error = SystemError("ttyname");
  // Raw 8N1 at the connection type's speed. A pty carries bytes at any
  // speed, but a client reading the settings sees the modem's line.
  termios tio {};
  tcgetattr(slave, &tio);
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(HUPCL | CRTSCTS);
  const speed_t speed = args_.modem.connectionType == 1 ? B9600 : B600;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (ok && tcsetattr(slave, TCSANOW, &tio) != 0) {
    error = SystemError("tcsetattr");
    ok = false;
  }
  close(slave);
  if (ok) devicePath_ = name;
  return ok;
}

bool Frontend::ClientPresent() const {
  pollfd p{master_, 0, 0};
  return poll(&p, 1, 0) >= 0 && !(p.revents & POLLHUP);
}

bool Frontend::Serve(const sigset_t& waitMask, std::string& error) {
  while (!g_stop) {
    // The master is waited on only while a client is there; without one it
    // would report its hang-up at every wait.
    pollfd fds[2] = {{watch_, POLLIN, 0}, {connected_ ? master_ : -1, POLLIN, 0}};
    timespec timeout {};
    timespec* timeoutPtr = nullptr;
    if (connected_ && !pending_.empty()) {
      const auto wait = pending_.front().due - Clock::now();
      if (wait <= Clock::duration::zero()) {
        fds[1].events |= POLLOUT;  // due but the slave's queue was full
      } else {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timeout = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        timeoutPtr = &timeout;
      }
    }
    if (watch_ < 0 && (timeoutPtr == nullptr || timeout.tv_sec > 0 || timeout.tv_nsec > UnwatchedPollNs)) {
      timeout = {0, UnwatchedPollNs};
      timeoutPtr = &timeout;
    }
    if (ppoll(fds, 2, timeoutPtr, &waitMask) < 0) {
      if (errno == EINTR) continue;
      error = SystemError("poll");
      return false;
    }
    // A client that wrote and closed at once has its late requests read
    // after the line is cleared, and their replies dropped with it; a client
    // that opened at once gets only what it asks for. The count decides even
    // when the master never showed the client (a busy machine can open,
    // write and close before the master's state is looked at).
    if (ReadWatch()) LastClientLeft();
    ReadInput();
    ClientsChanged();
    WriteDue();
  }
  return true;
}

void Frontend::ReadInput() {
  std::uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    // EAGAIN: nothing waiting; EIO: no client has the slave open.
    if (n <= 0) return;
    const auto now = Clock::now();
    for (const ModemOutput& out : model_.Feed(buffer, static_cast<std::size_t>(n))) {
      std::vector<std::string> lines = args_.log ? LogLines(out) : std::vector<std::string>{};
      if (!lines.empty()) Print(lines.front());  // rx
      const std::string tx = lines.size() > 1 ? lines[1] : std::string();
      const std::size_t size = out.LineSize();
      if (size == 0) {  // no reply, or one dropped on purpose
        if (!tx.empty()) Print(tx);
        continue;
      }
      if (pendingBytes_ + size > MaxPendingBytes) {
        if (args_.log) Print(tx + " (not sent: the client reads nothing and its queue is full)");
        continue;
      }
      pendingBytes_ += size;
      // Replies keep their order: a reply never overtakes an earlier one.
      auto due = std::max(now, pending_.empty() ? now : pending_.back().due);
      for (const ReplyChunk& chunk : out.chunks) {
        due += std::chrono::milliseconds(chunk.pauseMs);
        pending_.push_back(Pending{due, chunk.bytes, 0, {}});
      }
      pending_.back().logLine = tx;
    }
  }
}

// Reads the watch's events in order; true when a client's close left no
// client open by their count.
bool Frontend::ReadWatch() {
  if (watch_ < 0) return false;
  bool lastLeft = false;
  alignas(inotify_event) char buffer[4096];
  ssize_t n;
  while ((n = read(watch_, buffer, sizeof buffer)) > 0) {
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      at += static_cast<ssize_t>(sizeof event + event.len);
      if (event.mask & IN_Q_OVERFLOW) {
        clients_ = ownOpens_ = ownCloses_ = 0;  // events lost: the master alone decides
      } else if (event.wd != deviceWatch_) {
        continue;  // the directory's events only keep the device's apart
      } else if (event.mask & IN_OPEN) {
        if (ownOpens_ > 0) {
          --ownOpens_;
        } else {
          ++clients_;
        }
      } else if (event.mask & IN_CLOSE) {
        if (ownCloses_ > 0) {
          --ownCloses_;
        } else if (clients_ > 0 && --clients_ == 0) {
          lastLeft = true;
        }
      }
    }
  }
  // Without a client the count is 0 whatever the events said (after lost
  // events). A client seen by the master before its open event is read is
  // counted by that event, so the count is never raised here.
  if (!ClientPresent()) clients_ = 0;
  return lastLeft;
}

void Frontend::LastClientLeft() {
  DropPending("no client has the port open");
  ReleaseLine();
  if (args_.log) Print("the last client closed the port");
  if (connected_ && args_.log) Print("a client opened the port");
}

void Frontend::ClientsChanged() {
  const bool present = ClientPresent();
  if (present == connected_) return;
  connected_ = present;
  if (present) {
    if (args_.log) Print("a client opened the port");
    return;
  }
  LastClientLeft();
}

// Clears what the last client left on the slave: input it did not read (a
// reply written as it closed) and its claim of exclusive use, which the
// system keeps on the device after the close and which would refuse every
// later open by an ordinary user. Where the claim cannot be cleared (an
// ordinary user cannot open a device so claimed), the line moves to a new
// pseudo-terminal and the link follows it.
void Frontend::ReleaseLine() {
  const int slave = open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave >= 0) {
    ++ownOpens_;
    ioctl(slave, TIOCNXCL);
    tcflush(slave, TCIFLUSH);
    close(slave);
    ++ownCloses_;
  } else if (errno == EBUSY) {
    const int oldMaster = master_;
    const std::string oldPath = devicePath_;
    std::string error;
    if (CreatePty(error) && PlaceLink(args_.link, devicePath_, error)) {
      close(oldMaster);
      clients_ = ownOpens_ = ownCloses_ = 0;
      if (watch_ >= 0) Watch();
      std::fprintf(stderr, "vorsal-modem-sim: a client left %s in exclusive use; now serving %s\n",
                   oldPath.c_str(), devicePath_.c_str());
    } else {
      if (master_ != oldMaster) close(master_);
      master_ = oldMaster;
      devicePath_ = oldPath;
      std::fprintf(stderr, "vorsal-modem-sim: a client left %s in exclusive use: %s\n", oldPath.c_str(),
                   error.c_str());
    }
  }
  // Our own open and close are no client's (they are not counted); a client
  // that came meanwhile is seen by the master.
  connected_ = ClientPresent();
}

void Frontend::DropPending(const char* reason) {
  for (const Pending& p : pending_) {
    if (args_.log && !p.logLine.empty()) Print(p.logLine + " (not sent: " + reason + ")");
  }
  pending_.clear();
  pendingBytes_ = 0;
}

void Frontend::WriteDue() {
  if (!connected_) {
    DropPending("no client has the port open");
    return;
  }
  const auto now = Clock::now();
  while (!pending_.empty() && pending_.front().due <= now) {
    Pending& front = pending_.front();
    const ssize_t n = write(master_, front.bytes.data() + front.written, front.bytes.size() - front.written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;  // the queue is full (EAGAIN), or the client just went (seen at the next wake)
    }
    front.written += static_cast<std::size_t>(n);
    if (front.written < front.bytes.size()) continue;
    if (args_.log && !front.logLine.empty()) Print(front.logLine);
    pendingBytes_ -= front.bytes.size();
    pending_.pop_front();
  }
}

}  // namespace

int main(int argc, char** argv) {
  const SimArgs args = ParseSimArgs(std::vector<std::string>(argv + 1, argv + argc));
  if (args.help) {
    std::fputs(SimUsage().c_str(), stdout);
    return 0;
  }
  if (args.version) {
    std::fputs(VersionText("vorsal-modem-sim").c_str(), stdout);
    return 0;
  }
  if (!args.error.empty()) {
    std::fprintf(stderr, "vorsal-modem-sim: %s\nTry --help.\n", args.error.c_str());
    return 2;
  }

  // The stop signals stay blocked except inside ppoll, so a signal can never
  // slip in between the check of the flag and the wait.
  sigset_t stopSignals, waitMask;
  sigemptyset(&stopSignals);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, sig);
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a closed log reader must not end the simulator

  Frontend frontend(args);
  std::string error;
  if (!frontend.Open(error) || !PlaceLink(args.link, frontend.DevicePath(), error)) {
    std::fprintf(stderr, "vorsal-modem-sim: %s\n", error.c_str());
    return 1;
  }
  Print(frontend.DevicePath());
  const ModemOptions& m = args.modem;
  std::fprintf(stderr,
               "vorsal-modem-sim: %s -> %s, address %d, %s network, firmware %d.%d, "
               "connection type %d; Ctrl+C stops\n",
               args.link.c_str(), frontend.DevicePath().c_str(), m.address,
               m.network ? "working" : "service", m.firmwareMajor, m.firmwareMinor, m.connectionType);

  const bool served = frontend.Serve(waitMask, error);
  RemoveLink(args.link, frontend.DevicePath());
  if (!served) {
    std::fprintf(stderr, "vorsal-modem-sim: %s\n", error.c_str());
    return 1;
  }
  return 0;
}
