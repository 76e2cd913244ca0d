// A minimal check counter for test programs that run without GoogleTest
// (under qemu-i386 and wine). The last line is "N passed, M failed".
#pragma once

#include <cstdio>
#include <string_view>

namespace zarvo::testing {

class Tally {
 public:
  void check(bool ok, std::string_view what, int line) {
    if (ok) {
      ++passed_;
      return;
    }
    ++failed_;
    std::printf("FAILED (line %d): %.*s\n", line, static_cast<int>(what.size()), what.data());
    std::fflush(stdout);
  }
  int finish() const {
    std::printf("%d passed, %d failed\n", passed_, failed_);
    return failed_ == 0 && passed_ > 0 ? 0 : 1;
  }

 private:
  int passed_ = 0;
  int failed_ = 0;
};

}  // namespace zarvo::testing

#define CHECK(tally, condition) (tally).check((condition), #condition, __LINE__)
