// The operation table called as a host calls it: through the raw table, with
// garbage in the upper bits of every 8-bit argument.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "codepage/cp1251.h"
#include "platform/application.h"
#include "tests/support/driver_fixture.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

using testing::Bytes;
using ::testing::Contains;
using testing::ReplyFrame;

constexpr std::uint32_t kGarbage = 0xA5C3F100;

class AbiTest : public ::testing::Test {
 protected:
  AbiTest() : object(GetDA30(0xDEADBE00, &window, port.port())), ops(*object->ops) {}
  ~AbiTest() override { zarvo_da30_destroy(object); }

  testing::TempSettingsDir settings;
  testing::ScriptedPort port;
  int window = 0;
  zarvo_da30* object;
  const zarvo_da30_ops& ops;
};

TEST_F(AbiTest,
       the_factory_hands_the_window_to_the_application_and_registers_the_object_as_context) {
  EXPECT_EQ(platform::Application().Handle(), &window);
  port.reply(ReplyFrame(1, 'Q', "0"));
  ops.StopPump(object, kGarbage | 1, 1, kGarbage | 1);
  EXPECT_EQ(port.frames.size(), 1U);
}

TEST_F(AbiTest, the_driver_name_is_exactly_29_bytes) {
  std::array<std::uint8_t, 256> buffer;
  buffer.fill(0xFF);
  ops.GetDriverName(reinterpret_cast<zarvo_driver_name*>(buffer.data()), object);
  constexpr auto kName = cp1251("v2.41#Протокол колонок Zarvo");
  EXPECT_EQ(buffer[0], 28);
  EXPECT_EQ(std::memcmp(buffer.data() + 1, kName.bytes.data(), 28), 0);
  for (std::size_t i = 29; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0xFF) << i;
}

TEST_F(AbiTest, capabilities_answer_their_fixed_table) {
  const std::array<std::pair<std::uint32_t, std::int32_t>, 7> known = {
      {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 1}, {6, 0}, {9, 99999}}};
  for (const auto& [kind, expected] : known) {
    std::int32_t value = -7;
    EXPECT_EQ(ops.GetCapability(object, kind, &value), 1U) << kind;
    EXPECT_EQ(value, expected) << kind;
  }
  for (std::uint32_t kind : {0U, 7U, 8U, 10U, 0xFFFFFFFFU}) {
    std::int32_t value = -7;
    EXPECT_EQ(ops.GetCapability(object, kind, &value), 0U) << kind;
    EXPECT_EQ(value, -7);
  }
}

TEST_F(AbiTest, line_slots_forward_to_the_port_with_the_low_bytes) {
  port.configure_result = 0x7777;
  EXPECT_EQ(ops.OpenLine(object, kGarbage | 7), 0x7777);
  EXPECT_EQ(port.calls.back(), "ConfigureLine(7,3,9600)");
  port.rx_state = 0x12345678;
  EXPECT_EQ(ops.GetLineState(object, kGarbage | 2), 0x12345678);
  EXPECT_EQ(port.calls.back(), "GetRxState(2)");
  ops.SetLineState(object, kGarbage | 3, kGarbage | 9);
  EXPECT_EQ(port.calls.back(), "SetRxState(3,9)");
}

TEST_F(AbiTest, reserved_slots_do_nothing_and_slot_zero_raises) {
  ops.Reserved8(object, 1, 2, 3, 4, 5, 6, 7);
  ops.Reserved12(object, 1, 2, 3);
  ops.Reserved15(object, 1, 2, 3);
  ops.Reserved19(object, 1, 2, 3, 4);
  ops.Reserved25(object, 1, 2);
  ops.Reserved26(object, 1, 2);
  EXPECT_TRUE(port.calls.empty());
  EXPECT_THROW(ops.Reserved0(object), Exception);
}

TEST_F(AbiTest, eight_bit_arguments_and_results_use_the_low_byte_only) {
  EXPECT_EQ(ops.StopPump(object, kGarbage | 1, 99, kGarbage), 0U);  // flag 0: nothing sent
  EXPECT_TRUE(port.frames.empty());
  port.reply(ReplyFrame(3, '3', "07FF"));
  EXPECT_EQ(ops.ReadParam(object, kGarbage | 1, kGarbage | 3, 7), 255U);
  EXPECT_EQ(port.payload(0), (Bytes{0x03, 0x03, '3', '0', '7'}));
  port.reply(ReplyFrame(1, 'Q', "0"));
  EXPECT_EQ(ops.StopAllPumps(object, kGarbage | 1), 1U);
}

TEST_F(AbiTest, the_alternative_stops_go_through_slot_four) {
  port.reply(ReplyFrame(7, 'Q', "0")).reply(ReplyFrame(7, 'Q', "0"));
  EXPECT_EQ(ops.StopPumpAlt1(object, 1, 7, 12345, kGarbage | 1), 0U);
  EXPECT_EQ(ops.StopPumpAlt2(object, 1, 7, 0, 1), 0U);
  EXPECT_EQ(port.payload(0), (Bytes{0x07, 0x01, 0x35}));
  EXPECT_EQ(port.payload(1), port.payload(0));

  // A host that replaced slot 4 sees its replacement used.
  static int replaced_calls;
  zarvo_da30_ops patched = ops;
  patched.StopPump = [](zarvo_da30*, std::uint32_t, std::int32_t, std::uint32_t)
                         ZARVO_STDCALL -> std::uint32_t {
    ++replaced_calls;
    return 0;
  };
  const zarvo_da30_ops* original = object->ops;
  object->ops = &patched;
  patched.StopPumpAlt1(object, 1, 7, 0, 1);
  object->ops = original;
  EXPECT_EQ(replaced_calls, 1);
  EXPECT_EQ(port.frames.size(), 2U);
}

TEST_F(AbiTest, a_poll_writes_its_record_and_routes_through_the_table) {
  for (int i = 0; i < 3; ++i) port.reply(ReplyFrame(2, 'Q', "0"));
  port.reply(ReplyFrame(2, 'J', "030000"));
  zarvo_poll_result record;
  std::memset(record.bytes, 0xEE, sizeof record.bytes);
  ops.PollPump(&record, object, kGarbage | 1, kGarbage | 2, kGarbage | 3);
  EXPECT_EQ(record.bytes[0], 0xE2);
  EXPECT_EQ(record.bytes[1], 0);
  EXPECT_EQ(record.bytes[2], 0xEE);
  EXPECT_EQ(record.bytes[14], 2);
  EXPECT_EQ(port.frames.size(), 4U);
}

TEST_F(AbiTest, a_fresh_pumps_first_price_programs_it_and_goes_out_with_the_default_digits) {
  for (int i = 0; i < 5; ++i) port.reply(ReplyFrame(1, 'Q', "0"));
  ops.SetPrice(object, 1, 1, 1, 0, 0, 6.5);
  ops.SetPrice(object, 1, 1, 1, 0, 0, 6.5);
  ops.PresetVolume(object, 1, 1, kGarbage | 1, 0, 2.0);
  const std::vector<std::string> expected = {
      "\x01\x05"
      "24002",
      "\x01\x05"
      "24102",
      "\x01\x05"
      "24200",
      "\x01\x06"
      "440650",
      "\x01\x0E"
      "91V00020040650"};
  std::vector<std::string> sent;
  for (const Bytes& payload : port.payloads()) sent.emplace_back(payload.begin(), payload.end());
  EXPECT_EQ(sent, expected);
}

TEST_F(AbiTest, readings_come_back_through_their_out_arguments) {
  for (int i = 0; i < 4; ++i) port.reply(ReplyFrame(1, 'Q', "0"));
  ops.PresetAmount(object, 1, 1, kGarbage | 1, 0, 100.0);
  port.reply(ReplyFrame(1, 'R', testing::DeliveryData(1, '1', "  25.00", "   0.50")));
  EXPECT_EQ(ops.ReadPumpState(object, 1, kGarbage | 1), 217U);
  double volume = -1;
  double amount = -1;
  ops.GetDelivery(object, 1, 1, &volume, &amount);
  EXPECT_EQ(volume, 0.5);
  EXPECT_EQ(amount, 25.0);
  double amount2 = -1;
  EXPECT_EQ(ops.GetDeliveryVolume(object, 1, 1, &amount2), 0.5);
  EXPECT_EQ(amount2, 25.0);
  Bytes totals = {0x00};
  for (const char c : std::string_view("         10.5         525.0")) totals.push_back(c);
  port.reply(ReplyFrame(1, 'B', totals));
  double first = -1;
  double second = -1;
  ops.ReadTotals(object, 1, 1, kGarbage | 1, &first, &second, 0, 0);
  EXPECT_EQ(first, 10.5);
  EXPECT_EQ(second, 525.0);
}

TEST_F(AbiTest, failures_arrive_as_their_exception_types) {
  port.silence();
  EXPECT_THROW(ops.SetPrice(object, 1, 1, 2, 0, 0, 9.99), ESerialIO);
  EXPECT_THROW(ops.SetPrice(object, 1, 33, 2, 0, 0, 9.99), Exception);
}

TEST_F(AbiTest, the_port_failing_in_any_entry_a_command_calls_fails_only_that_command) {
  const Bytes reply = ReplyFrame(1, 'J', "000300");
  enum class Exchange { kNotSent, kAnswered, kRaises };
  struct Case {
    const char* entry;
    Exchange exchange;
    bool command_fails;
  };
  // The reply check reports to the port; failing there it never raises but
  // rejects the byte. A port that cannot say whether it took the reply took
  // none, so the state reads 0.
  for (const Case& c : {Case{"SetReplyCheck", Exchange::kNotSent, true},
                        Case{"SetReplyCode", Exchange::kAnswered, true},
                        Case{"SetRxState", Exchange::kAnswered, true},
                        Case{"GetLineResult", Exchange::kRaises, true},
                        Case{"GetRxState", Exchange::kAnswered, false}}) {
    SCOPED_TRACE(c.entry);
    port.throws_in = c.entry;
    port.line_result = 1;
    port.check_counts.clear();
    if (c.exchange == Exchange::kAnswered) port.reply(reply);
    if (c.exchange == Exchange::kRaises) port.raise(1);
    if (c.command_fails) {
      EXPECT_THROW(ops.ReadPumpState(object, 1, 1), ESerialIO);
    } else {
      EXPECT_EQ(ops.ReadPumpState(object, 1, 1), 0U);
    }
    if (c.exchange == Exchange::kAnswered) {
      EXPECT_EQ(port.check_counts.size(), reply.size());  // the check returned at every byte
    }
    port.throws_in.clear();
    port.reply(reply);
    EXPECT_EQ(ops.ReadPumpState(object, 1, 1), 228U);
  }
}

TEST(AbiObjects, two_driver_objects_are_independent_and_one_outlives_the_other) {
  testing::TempSettingsDir settings;
  testing::ScriptedPort port;
  zarvo_da30* first = GetDA30(0, nullptr, port.port());
  zarvo_da30* second = GetDA30(1, nullptr, port.port());
  zarvo_da30_destroy(first);
  port.reply(ReplyFrame(1, 'Q', "0"));
  EXPECT_EQ(second->ops->StopAllPumps(second, 1), 1U);
  zarvo_da30_destroy(second);
}

}  // namespace
}  // namespace zarvo
