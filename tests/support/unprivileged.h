// Permission bits bind only an unprivileged user: as root, a test body runs
// in a child switched to nobody.
#pragma once

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace zarvo::testing {

inline constexpr uid_t kNobody = 65534;

// The failures of this case since it had parts parts, so that a child does not
// report those it inherited.
inline bool FailedSince(int parts) {
  const ::testing::TestResult& result =
      *::testing::UnitTest::GetInstance()->current_test_info()->result();
  for (int i = parts; i < result.total_part_count(); ++i) {
    if (result.GetTestPartResult(i).failed()) return true;
  }
  return false;
}

// Runs body as nobody; the result is why it could not, or empty.
inline std::string AsUnprivileged(const std::function<void()>& body) {
  if (geteuid() != 0) {
    body();
    return "";
  }
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return "cannot fork";
  if (child == 0) {
    if (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
        setresuid(kNobody, kNobody, kNobody) != 0) {
      _exit(77);
    }
    const int parts =
        ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
    body();
    std::fflush(nullptr);
    _exit(FailedSince(parts) ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 77) return "cannot switch to user 65534";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child failed, see above";
  return "";
}

// Gives a path to the user AsUnprivileged runs as; without root it is ours already.
inline void GiveToUser(const std::string& path) {
  if (geteuid() == 0) {
    ASSERT_EQ(lchown(path.c_str(), kNobody, kNobody), 0) << path;
  }
}

}  // namespace zarvo::testing
