// vorsal-modem-sim: serves the modem model on a pseudo-terminal.
//
// The simulator keeps its own descriptor of the slave side open for its whole
// life, so the master never reports a hang-up while clients come and go and
// poll() always has something sound to wait on. Holding the slave has one
// side effect that must be undone: a client's exclusive-use flag (TIOCEXCL)
// would outlive that client, and every later open by an ordinary user would
// fail with EBUSY. An inotify watch on the slave device counts the clients'
// opens and closes; when the last client closes, the simulator clears the
// flag and discards replies nobody read, as a real line would lose them.
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
  };

  bool ReadInput(std::string& error);
  void WatchClients();
  void WriteDue();

  const SimArgs& args_;
  ModemModel model_;
  int master_ = -1;
  int slave_ = -1;
  int watch_ = -1;
  int clients_ = -1;  // clients with the device open; -1 when not known
  std::string devicePath_;
  std::deque<Pending> pending_;
  std::size_t pendingBytes_ = 0;
};

// Replies held back from a client that writes and never reads are capped.
constexpr std::size_t MaxPendingBytes = 1 << 20;

Frontend::~Frontend() {
  if (watch_ >= 0) close(watch_);
  if (slave_ >= 0) close(slave_);
  if (master_ >= 0) close(master_);
}

bool Frontend::Open(std::string& error) {
  if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) {
    error = SystemError("openpty");
    return false;
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  fcntl(master_, F_SETFD, FD_CLOEXEC);
  fcntl(slave_, F_SETFD, FD_CLOEXEC);
  char name[PATH_MAX];
  if (ttyname_r(slave_, name, sizeof name) != 0) {
    error = SystemError("ttyname");
    return false;
  }
  devicePath_ = name;

  // Raw 8N1 at the connection type's speed. A pty carries bytes at any
  // speed, but a client reading the settings sees the modem's line.
  termios tio {};
  tcgetattr(slave_, &tio);
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cflag &= ~(HUPCL | CRTSCTS);
  const speed_t speed = args_.modem.connectionType == 1 ? B9600 : B600;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(slave_, TCSANOW, &tio) != 0) {
    error = SystemError("tcsetattr");
    return false;
  }

  watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE) >= 0) {
    clients_ = 0;
  } else {
    std::fprintf(stderr, "vorsal-modem-sim: %s; a client's exclusive use will outlive it\n",
                 SystemError("inotify").c_str());
  }
  return true;
}

bool Frontend::Serve(const sigset_t& waitMask, std::string& error) {
  while (!g_stop) {
    pollfd fds[2] = {{master_, POLLIN, 0}, {watch_, POLLIN, 0}};
    timespec timeout {};
    timespec* timeoutPtr = nullptr;
    if (!pending_.empty()) {
      const auto wait = pending_.front().due - Clock::now();
      if (wait <= Clock::duration::zero()) {
        fds[0].events |= POLLOUT;  // due but the slave's queue was full
      } else {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wait).count();
        timeout = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        timeoutPtr = &timeout;
      }
    }
    if (ppoll(fds, watch_ >= 0 ? 2 : 1, timeoutPtr, &waitMask) < 0) {
      if (errno == EINTR) continue;
      error = SystemError("poll");
      return false;
    }
    // The watch is read again after the input: the open of a client whose
    // bytes were just read is then certain to be counted before its reply is
    // written. (Reading it first as well keeps the log in the natural order.)
    WatchClients();
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) && !ReadInput(error)) return false;
    WatchClients();
    WriteDue();
  }
  return true;
}

bool Frontend::ReadInput(std::string& error) {
  std::uint8_t buffer[4096];
  for (;;) {
    const ssize_t n = read(master_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    if (n <= 0) {
      error = n == 0 ? "the pseudo-terminal closed" : SystemError("read");
      return false;
    }
    const auto now = Clock::now();
    for (const ModemOutput& out : model_.Feed(buffer, static_cast<std::size_t>(n))) {
      if (args_.log) {
        for (const auto& line : LogLines(out)) Print(line);
      }
      const std::size_t size = out.LineSize();
      if (pendingBytes_ + size > MaxPendingBytes) {
        if (args_.log) Print("reply not sent: the client reads nothing and its queue is full");
        continue;
      }
      pendingBytes_ += size;
      // Replies keep their order: a reply never overtakes an earlier one.
      auto due = std::max(now, pending_.empty() ? now : pending_.back().due);
      for (const ReplyChunk& chunk : out.chunks) {
        due += std::chrono::milliseconds(chunk.pauseMs);
        pending_.push_back(Pending{due, chunk.bytes});
      }
    }
  }
}

void Frontend::WatchClients() {
  if (watch_ < 0) return;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = read(watch_, buffer, sizeof buffer);
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if (event->mask & IN_Q_OVERFLOW) {
        clients_ = -1;  // count lost; deliver everything from now on
        continue;
      }
      if (clients_ < 0) continue;
      if (event->mask & IN_OPEN) {
        ++clients_;
        if (args_.log) Print("client opened the port (" + std::to_string(clients_) + " open)");
      }
      if ((event->mask & IN_CLOSE) && clients_ > 0) {
        --clients_;
        if (clients_ == 0) {
          ioctl(slave_, TIOCNXCL);
          tcflush(slave_, TCIFLUSH);
        }
        if (args_.log) Print("client closed the port (" + std::to_string(clients_) + " open)");
      }
    }
  }
}

void Frontend::WriteDue() {
  const auto now = Clock::now();
  while (!pending_.empty() && pending_.front().due <= now) {
    Pending& front = pending_.front();
    if (clients_ != 0) {
      const ssize_t n = write(master_, front.bytes.data() + front.written, front.bytes.size() - front.written);
      if (n < 0) {
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      } else {
        front.written += static_cast<std::size_t>(n);
        if (front.written < front.bytes.size()) continue;
      }
    }
    // Written, or nobody listens on the line: the bytes are gone either way.
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
