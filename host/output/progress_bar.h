// A one-line progress bar on a terminal; elsewhere a line every fifth of the way.
#pragma once

#include <ostream>
#include <string>

namespace zarvo::host {

class ProgressBar {
 public:
  ProgressBar(std::ostream& out, bool terminal) : out_(out), terminal_(terminal) {}
  // fraction 0..1 of the target; `label` follows the bar.
  void show(double fraction, const std::string& label);
  void finish();

 private:
  std::ostream& out_;
  bool terminal_;
  int last_step_ = -1;
  bool drawn_ = false;
};

// The bar itself: "[#####.....]  50%".
std::string progress_text(double fraction, int width);

}  // namespace zarvo::host
