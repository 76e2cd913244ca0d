// Results go to standard output as text for people or, with --json, as one
// JSON object a line for scripts; notes and progress go to standard error.
// The host's texts are UTF-8: text goes out in the terminal's character set,
// JSON always as UTF-8.
#pragma once

#include <ostream>
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
  void result(const Json& object, const std::string& text) {
    out_ << (json_ ? json_text(object) : shown(text)) << '\n';
    out_.flush();
  }
  // A line for people only: skipped in JSON mode.
  void note(const std::string& text) {
    if (!json_) {
      out_ << shown(text) << '\n';
      out_.flush();
    }
  }
  // A line for people on standard error, in either mode.
  void error(const std::string& text) { err_ << shown(text) << '\n'; }
  std::ostream& err() { return err_; }
  // UTF-8 text as the terminal shows it.
  std::string shown(const std::string& text) const { return to_charset(text, charset_); }

 private:
  bool json_;
  std::ostream& out_;
  std::ostream& err_;
  std::string charset_;
};

}  // namespace zarvo::host
