// A driver object on a scripted port, with its settings directory in a fresh
// temporary folder, and a byte snapshot of every table for "nothing changed".
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver/tvm30.h"
#include "tests/support/scripted_port.h"

namespace zarvo::testing {

// Points the settings directory at a new empty folder for its lifetime.
class TempSettingsDir {
 public:
  TempSettingsDir();
  ~TempSettingsDir();
  const std::string& path() const { return path_; }
  std::string file() const { return path_ + "/cnf.INI"; }
  void write_file(const std::string& text) const;
  std::string read_file() const;

 private:
  std::string path_;
};

// The reply check as a host port calls it, with a TVM30 as its context.
ReplyCheckRegistration CheckFor(TVM30* driver);

// Every table and setting of the object as bytes.
std::string Snapshot(const TVM30& driver);

class DriverTest : public ::testing::Test {
 protected:
  DriverTest() : driver(port.port(), CheckFor(&driver)) {}

  TempSettingsDir settings;
  ScriptedPort port;
  TVM30 driver;
};

}  // namespace zarvo::testing
