#include "cli/output.h"

namespace vorsal::cli {

void Output::Say(const std::string& text) {
  const std::lock_guard<std::mutex> guard(mutex_);
  err_ << "vorsal-cli: " << text << '\n';
  err_.flush();
}

void Output::Result(const JsonObject& json, const std::string& text) {
  const std::lock_guard<std::mutex> guard(mutex_);
  out_ << (json_ ? json.Text() : text) << '\n';
  out_.flush();
  if (!out_) failed_ = true;
}

int Output::Fail(int status, const std::string& message) {
  Say(message);
  return status;
}

void Output::Progress(const std::string& what, int done, int total, bool severalPorts) {
  const std::lock_guard<std::mutex> guard(mutex_);
  if (errIsTerminal_ && !severalPorts) {
    constexpr int Width = 30;
    const int filled = done * Width / total;
    err_ << '\r' << what << " [" << std::string(static_cast<std::size_t>(filled), '#')
         << std::string(static_cast<std::size_t>(Width - filled), ' ') << "] " << done * 100 / total << '%';
    if (done == total) err_ << '\n';
    err_.flush();
  } else if (total <= 10) {
    err_ << what << ' ' << done << '/' << total << '\n';
  } else if (done == total || (done * 10 / total) != ((done - 1) * 10 / total)) {
    err_ << what << ' ' << done * 100 / total << "%\n";
  }
}

bool Output::Failed() {
  out_.flush();
  return failed_ || !out_;
}

}  // namespace vorsal::cli
