// A driver object on a scripted port, with its settings directory in a fresh
// temporary folder, and a byte snapshot of every table for "nothing changed".
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver/tvm30.h"
#include "tests/support/direct_calls.h"
#include "tests/support/scripted_port.h"
#include "tests/support/settings_dir.h"

namespace zarvo::testing {

// The reply check as a host port calls it, with a TVM30 as its context.
ReplyCheckRegistration CheckFor(TVM30* driver);

// Every table and setting of the object as bytes.
std::string Snapshot(const TVM30& driver);

// The tables' cell of a pump known to be in range.
constexpr PumpCell cell(int line, int pump) {
  return *PumpCell::of(line, pump);
}

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() : driver(port.port(), CheckFor(&driver)) {}

  // The decimals as the settings file would give them: values outside 0..3
  // stand for 2 there.
  void use_decimals(std::uint8_t sum, std::uint8_t price);

  TempSettingsDir settings;
  ScriptedPort port;
  TVM30 driver;
  DirectCalls calls{driver};
};

// A driver whose pumps were all polled once: their parameters are programmed,
// and commands send only their own requests.
class ProgrammedDriverTest : public DriverTest {
 protected:
  ProgrammedDriverTest() {
    for (auto& pending : driver.ParamsPending) pending = 0;
  }
};

}  // namespace zarvo::testing
