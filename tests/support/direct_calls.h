// The calls a command routes through the operation table, made straight on
// the driver as the library's own table would: for tests and benchmarks that
// hold a TVM30 without the table.
#pragma once

#include "driver/tvm30.h"

namespace zarvo::testing {

class DirectCalls final : public TableCalls {
 public:
  explicit DirectCalls(TVM30& driver) : driver_(driver) {}
  void WriteParam(std::uint8_t line, std::uint8_t pump, std::int32_t number,
                  std::int32_t value) override {
    driver_.WriteParam(line, pump, number, value);
  }
  std::uint8_t ReadPumpState(std::int32_t line, std::uint8_t pump) override {
    return driver_.ReadPumpState(line, pump);
  }

 private:
  TVM30& driver_;
};

}  // namespace zarvo::testing
