// Results go to standard output as text for people or, with --json, as one
// JSON object a line for scripts; notes and progress go to standard error.
#pragma once

#include <ostream>
#include <string>

#include "host/output/json.h"

namespace zarvo::host {

class Output {
 public:
  Output(bool json, std::ostream& out, std::ostream& err) : json_(json), out_(out), err_(err) {}

  bool json() const { return json_; }
  void result(const Json& object, const std::string& text) {
    out_ << (json_ ? object.dump() : text) << '\n';
    out_.flush();
  }
  // A line for people only: skipped in JSON mode.
  void note(const std::string& text) {
    if (!json_) {
      out_ << text << '\n';
      out_.flush();
    }
  }
  std::ostream& err() { return err_; }

 private:
  bool json_;
  std::ostream& out_;
  std::ostream& err_;
};

}  // namespace zarvo::host
