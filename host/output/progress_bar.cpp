#include "host/output/progress_bar.h"

#include <algorithm>
#include <cmath>

namespace zarvo::host {

std::string progress_text(double fraction, int width) {
  if (!std::isfinite(fraction)) fraction = 0;
  fraction = std::clamp(fraction, 0.0, 1.0);
  const int filled = static_cast<int>(std::lround(fraction * width));
  const int percent = static_cast<int>(std::floor(fraction * 100 + 1e-9));
  const std::string number = std::to_string(percent);
  // Appended piece by piece: g++ 12 at -O3 mistakes the sum of temporaries
  // for overlapping copies (-Wrestrict).
  std::string text = "[";
  text.append(static_cast<std::size_t>(filled), '#');
  text.append(static_cast<std::size_t>(width - filled), '.');
  text += "] ";
  text.append(3 - std::min<std::size_t>(3, number.size()), ' ');
  text += number;
  text += '%';
  return text;
}

void ProgressBar::show(double fraction, const std::string& label) {
  if (terminal_) {
    out_ << '\r' << progress_text(fraction, 30) << "  " << label << "\x1b[K" << std::flush;
    drawn_ = true;
    return;
  }
  const int step = static_cast<int>(std::floor(std::clamp(fraction, 0.0, 1.0) * 5));
  if (step != last_step_) {
    last_step_ = step;
    out_ << progress_text(fraction, 30) << "  " << label << '\n' << std::flush;
  }
}

void ProgressBar::finish() {
  if (terminal_ && drawn_) out_ << '\n' << std::flush;
  drawn_ = false;
}

}  // namespace zarvo::host
