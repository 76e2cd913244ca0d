// A case that needs a process of its own (the library as just loaded, whose
// menu entry can be added once; signals; no controlling terminal) runs in a
// child forked from a parent that never touched what it tests; the child's
// failures fail the case.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

#include "tests/support/child_exit.h"

namespace zarvo::testing {

inline void InFreshProcess(const std::function<void()>& body) {
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    body();
    std::fflush(nullptr);
    ExitChild(::testing::Test::HasFailure() ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the child process failed, see its messages above";
}

}  // namespace zarvo::testing
