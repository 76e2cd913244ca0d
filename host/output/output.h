// Results go to standard output as text for people or, with --json, as one
// JSON object a line for scripts; notes and progress go to standard error.
// The host's texts are UTF-8: text goes out in the terminal's character set,
// JSON always as UTF-8.
#pragma once

#include <cerrno>
#include <cstring>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>

#include "host/output/json.h"
#include "host/output/text.h"

namespace zarvo::host {

class Output {
 public:
  Output(bool json, std::ostream& out, std::ostream& err, std::string charset = terminal_charset())
      : json_(json), out_(out), err_(err), charset_(std::move(charset)) {}

  bool json() const { return json_; }
  // Results and notes throw std::runtime_error when standard output cannot
  // take them (a full disk, a closed pipe): a result that is lost is a failure.
  void result(const Json& object, const std::string& text) {
    write(json_ ? json_text(object) : shown(text));
  }
  // A line for people only: skipped in JSON mode.
  void note(const std::string& text) {
    if (!json_) write(shown(text));
  }
  // A line for people on standard error, in either mode.
  void error(const std::string& text) { err_ << shown(text) << '\n'; }
  // A command's failure: "zarvo COMMAND: MESSAGE" on standard error and, with
  // --json, {"command":..,"error":..,"status":..} on standard output too.
  void failure(const std::string& command, const std::string& message, int status) {
    error("zarvo " + command + ": " + message);
    if (json_ && out_) {
      out_ << json_text(Json{{"command", command}, {"error", message}, {"status", status}}) << '\n';
      out_.flush();
    }
  }
  // Whether everything written to standard output got there.
  bool written() const { return !out_.fail(); }
  std::ostream& err() { return err_; }
  // UTF-8 text as the terminal shows it.
  std::string shown(const std::string& text) const { return to_charset(text, charset_); }

 private:
  void write(const std::string& line) {
    errno = 0;
    out_ << line << '\n';
    out_.flush();
    if (!out_) {
      const int reason = errno;
      throw std::runtime_error(std::string("standard output cannot be written") +
                               (reason != 0 ? std::string(": ") + std::strerror(reason) : ""));
    }
  }

  bool json_;
  std::ostream& out_;
  std::ostream& err_;
  std::string charset_;
};

}  // namespace zarvo::host
