// One fuzzer input's life: a driver object over the fuzzer's port, each
// step a call of one slot with the program's arguments (or a fresh object
// over a settings file of any content), and after each call the invariants.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/table/fuzz_port.h"
#include "fuzz/table/invariants.h"
#include "fuzz/table/program.h"
#include "tests/support/port_adapter.h"
#include "zarvo/da30.h"

namespace zarvo::table_fuzz {

// The settings folder of this process's driver objects, made once.
std::string settings_dir();

// The arguments a call passed, for the checks after it.
struct SlotArgs {
  std::uint32_t a = 0, b = 0, c = 0, d = 0;
  double x = 0;
};

class Session {
 public:
  explicit Session(Program& program);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void step();

 private:
  enum class Outcome { kReturned, kRefused, kSerialIO, kPortFailure };

  // One port for every session: the driver's entries reach it through a table.
  static FuzzPort port_;
  static testing::PortAdapter<FuzzPort> adapter_;

  TVM30& driver();
  void create();
  void recreate();
  SlotArgs read_args(int op);
  void call(int op);
  void dispatch(int op, const SlotArgs& g, const zarvo_da30_ops& ops, zarvo_da30* self,
                double& out1, double& out2, std::uint32_t& result, zarvo_poll_result& poll);

  Program& program_;
  zarvo_da30* object_ = nullptr;
  TableWatch watch_;
  std::vector<unsigned char> before_;  // the whole object, for refused calls
};

}  // namespace zarvo::table_fuzz
