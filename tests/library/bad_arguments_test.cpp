// Every argument outside its range, through the raw table: the call either does
// what the operation defines for it or raises zarvo::Exception, and then sends
// nothing and leaves every table byte as it was.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "library/driver_object.h"
#include "tests/support/driver_fixture.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct BadCall {
  std::string what;
  std::function<void(zarvo_da30*, const zarvo_da30_ops&)> call;
};

std::vector<BadCall> bad_calls() {
  std::vector<BadCall> calls;
  const auto add = [&](std::string what, auto call) { calls.push_back({std::move(what), call}); };
  const std::int32_t bad_lines[] = {0, 41, -1, 255, 256 + 41, INT_MAX, INT_MIN};
  const std::int32_t bad_pumps[] = {0, 33, -1, 255, INT_MAX, INT_MIN};
  const std::uint32_t bad_nozzles[] = {0, 7, 255, 0xFFFFFF00};
  const double bad_prices[] = {kNaN, kInf, -kInf, -0.01, 100.0, 1e300};
  const double bad_volumes[] = {kNaN, kInf, -1.0, 10000.0, 1e20};

  for (const std::int32_t line : bad_lines) {
    const auto l8 = static_cast<std::uint32_t>(line);
    const std::string at = " line " + std::to_string(line);
    add("StopPump" + at, [=](auto* o, auto& ops) { ops.StopPump(o, l8, 1, 1); });
    add("StopAllPumps" + at, [=](auto* o, auto& ops) { ops.StopAllPumps(o, l8); });
    add("GetDelivery" + at, [=](auto* o, auto& ops) {
      double v = -1, a = -1;
      ops.GetDelivery(o, line, 1, &v, &a);
    });
    add("GetDeliveryVolume" + at, [=](auto* o, auto& ops) {
      double a = -1;
      ops.GetDeliveryVolume(o, line, 1, &a);
    });
    add("ReadTotals" + at, [=](auto* o, auto& ops) {
      double f = -1, s = -1;
      ops.ReadTotals(o, line, 1, 1, &f, &s, 0, 0);
    });
    add("ReadPumpState" + at, [=](auto* o, auto& ops) { ops.ReadPumpState(o, line, 1); });
    add("SetPrice" + at, [=](auto* o, auto& ops) { ops.SetPrice(o, line, 1, 2, 0, 0, 9.99); });
    add("PresetVolume" + at, [=](auto* o, auto& ops) { ops.PresetVolume(o, line, 1, 1, 0, 5); });
    add("PresetAmount" + at, [=](auto* o, auto& ops) { ops.PresetAmount(o, line, 1, 1, 0, 5); });
    add("ReadParam" + at, [=](auto* o, auto& ops) { ops.ReadParam(o, l8, 1, 7); });
    add("WriteParam" + at, [=](auto* o, auto& ops) { ops.WriteParam(o, l8, 1, 7, 1); });
    add("PollPump" + at, [=](auto* o, auto& ops) {
      zarvo_poll_result r{};
      ops.PollPump(&r, o, l8, 1, 0);
    });
    add("StopPumpAlt1" + at, [=](auto* o, auto& ops) { ops.StopPumpAlt1(o, line, 1, 0, 1); });
  }
  for (const std::int32_t pump : bad_pumps) {
    const std::string at = " pump " + std::to_string(pump);
    if (pump != 0) {  // pump 0 stops the whole line
      add("StopPump" + at, [=](auto* o, auto& ops) { ops.StopPump(o, 1, pump, 1); });
      add("StopPumpAlt2" + at, [=](auto* o, auto& ops) { ops.StopPumpAlt2(o, 1, pump, 0, 1); });
    }
    add("GetDelivery" + at, [=](auto* o, auto& ops) {
      double v = -1, a = -1;
      ops.GetDelivery(o, 1, pump, &v, &a);
    });
    add("ReadTotals" + at, [=](auto* o, auto& ops) {
      double f = -1, s = -1;
      ops.ReadTotals(o, 1, pump, 1, &f, &s, 0, 0);
    });
    add("SetPrice" + at, [=](auto* o, auto& ops) { ops.SetPrice(o, 1, pump, 2, 0, 0, 9.99); });
    add("PresetVolume" + at, [=](auto* o, auto& ops) { ops.PresetVolume(o, 1, pump, 1, 0, 5); });
    add("PresetAmount" + at, [=](auto* o, auto& ops) { ops.PresetAmount(o, 1, pump, 1, 0, 5); });
    const auto p8 = static_cast<std::uint32_t>(pump);
    if ((p8 & 0xFF) == 0 || (p8 & 0xFF) > 32) {
      add("ReadPumpState" + at, [=](auto* o, auto& ops) { ops.ReadPumpState(o, 1, p8); });
      add("PollPump" + at, [=](auto* o, auto& ops) {
        zarvo_poll_result r{};
        ops.PollPump(&r, o, 1, p8, 0);
      });
    }
  }
  for (const std::uint32_t nozzle : bad_nozzles) {
    const std::string at = " nozzle " + std::to_string(nozzle);
    add("SetPrice" + at, [=](auto* o, auto& ops) {
      ops.SetPrice(o, 1, 1, static_cast<std::int32_t>(nozzle), 0, 0, 9.99);
    });
    add("PresetVolume" + at, [=](auto* o, auto& ops) { ops.PresetVolume(o, 1, 1, nozzle, 0, 5); });
    add("PresetAmount" + at, [=](auto* o, auto& ops) { ops.PresetAmount(o, 1, 1, nozzle, 0, 5); });
    add("ReadTotals" + at, [=](auto* o, auto& ops) {
      double f = -1, s = -1;
      ops.ReadTotals(o, 1, 1, nozzle, &f, &s, 0, 0);
    });
  }
  for (const std::uint32_t count : {7U, 255U, 0xFFFFFF07U}) {
    add("PollPump nozzle count " + std::to_string(count), [=](auto* o, auto& ops) {
      zarvo_poll_result r{};
      ops.PollPump(&r, o, 1, 1, count);
    });
  }
  for (const double price : bad_prices) {
    add("SetPrice " + std::to_string(price),
        [=](auto* o, auto& ops) { ops.SetPrice(o, 1, 1, 2, 0, 0, price); });
  }
  for (const double value : bad_volumes) {
    add("PresetVolume " + std::to_string(value),
        [=](auto* o, auto& ops) { ops.PresetVolume(o, 1, 1, 1, 0, value); });
    add("PresetAmount " + std::to_string(value),
        [=](auto* o, auto& ops) { ops.PresetAmount(o, 1, 1, 1, 0, value); });
  }
  for (const std::int32_t number : {-1, 100, 255, INT_MAX, INT_MIN}) {
    add("ReadParam number " + std::to_string(number),
        [=](auto* o, auto& ops) { ops.ReadParam(o, 1, 1, number); });
    add("WriteParam number " + std::to_string(number),
        [=](auto* o, auto& ops) { ops.WriteParam(o, 1, 1, number, 1); });
  }
  for (const std::uint32_t pump : {0U, 33U, 255U, 0xFFFFFF21U}) {
    add("ReadParam pump " + std::to_string(pump),
        [=](auto* o, auto& ops) { ops.ReadParam(o, 1, pump, 7); });
    if ((pump & 0xFF) != 0) {  // address 0 writes to every pump
      add("WriteParam pump " + std::to_string(pump),
          [=](auto* o, auto& ops) { ops.WriteParam(o, 1, pump, 40, 1); });
    }
  }
  add("StopPumpAlt1 line 257", [](auto* o, auto& ops) { ops.StopPumpAlt1(o, 257, 1, 0, 1); });
  add("StopPumpAlt2 line 297", [](auto* o, auto& ops) { ops.StopPumpAlt2(o, 297, 1, 0, 1); });
  for (const std::int32_t value : {-1, 256, INT_MAX, INT_MIN}) {
    add("WriteParam value " + std::to_string(value),
        [=](auto* o, auto& ops) { ops.WriteParam(o, 1, 1, 40, value); });
  }
  return calls;
}

TEST(BadArguments, bad_arguments_are_refused_without_touching_the_tables_or_the_line) {
  testing::TempSettingsDir settings;
  testing::ScriptedPort port;
  zarvo_da30* object = GetDA30(0, nullptr, port.port());
  const TVM30& driver = DriverOf(object);
  for (const BadCall& bad : bad_calls()) {
    const std::string before = testing::Snapshot(driver);
    try {
      bad.call(object, *object->ops);
      ADD_FAILURE() << bad.what << ": accepted";
    } catch (const ESerialIO& e) {
      ADD_FAILURE() << bad.what << ": reached the line";
    } catch (const Exception& e) {
      EXPECT_STRNE(e.what(), "") << bad.what;
    }
    EXPECT_EQ(testing::Snapshot(driver), before) << bad.what;
  }
  EXPECT_TRUE(port.frames.empty());
  zarvo_da30_destroy(object);
}

TEST(BadArguments, arguments_that_the_operation_defines_are_served) {
  testing::TempSettingsDir settings;
  testing::ScriptedPort port;
  zarvo_da30* object = GetDA30(0, nullptr, port.port());
  const auto& ops = *object->ops;
  EXPECT_EQ(ops.StopPump(object, 0, INT_MIN, 0), 0U);  // no flag: nothing checked
  EXPECT_EQ(ops.StopPumpAlt1(object, INT_MIN, 1, 0, 0), 0U);
  EXPECT_EQ(ops.StopPumpAlt2(object, 1, INT_MAX, 0, 0x100), 0U);
  std::int32_t value = 5;
  EXPECT_EQ(ops.GetCapability(object, 0x80000000U, &value), 0U);
  ops.Reserved8(object, INT_MIN, INT_MAX, -1, 0, 1, 2, 3);
  ops.Reserved19(object, INT_MIN, INT_MAX, -1, 0);
  EXPECT_TRUE(port.frames.empty());
  port.silence();
  EXPECT_THROW(ops.StopPump(object, 1, 0, 1), ESerialIO);  // pump 0 goes out to every pump
  zarvo_da30_destroy(object);
}

}  // namespace
}  // namespace zarvo
