// What vorsal-cli prints: results on standard output (text or JSON lines),
// messages and progress on standard error, each line whole from any thread.
#pragma once

#include "cli/json_text.h"

#include <mutex>
#include <ostream>
#include <string>

namespace vorsal::cli {

class Output {
 public:
  Output(std::ostream& out, std::ostream& err, bool json, bool errIsTerminal)
      : out_(out), err_(err), json_(json), errIsTerminal_(errIsTerminal) {}

  // A message begun on standard error, for the calling thread alone (used
  // before a batch's threads start and by single commands).
  std::ostream& Message() { return err_ << "vorsal-cli: "; }
  // One message line, whole, from any thread.
  void Say(const std::string& text);
  // One result line: the JSON object with --json, the text otherwise.
  void Result(const JsonObject& json, const std::string& text);
  // Says the message and returns `status`.
  int Fail(int status, const std::string& message);
  // Progress of `what`: a bar on a terminal (unless several ports share
  // it), otherwise a line per step (up to ten steps) or per tenth.
  void Progress(const std::string& what, int done, int total, bool severalPorts);
  // A result line or standard output failed.
  bool Failed();

  std::ostream& Out() { return out_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  bool json_;
  bool errIsTerminal_;
  bool failed_ = false;
  std::mutex mutex_;
};

}  // namespace vorsal::cli
