// The soak's set-up: the built-in simulator alone, at full speed.
#include "host/soak/soak.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace zarvo::host {
namespace {

using namespace std::chrono_literals;

TEST(SoakFaults, a_soak_on_real_lines_is_refused) {
  SoakOptions soak;
  SessionOptions session;
  session.lines = {{1, "/dev/ttyS0"}};
  EXPECT_THROW(prepare_soak_session(soak, session, false), std::invalid_argument);
  session.lines.clear();
  prepare_soak_session(soak, session, false);
  EXPECT_FALSE(session.simulator.link.pacing);
  EXPECT_EQ(session.timeouts.first_byte, 50ms);
}

}  // namespace
}  // namespace zarvo::host
