#include <gtest/gtest.h>

#include <cmath>

#include "codepage/cp1251.h"
#include "tests/support/driver_fixture.h"

namespace zarvo {
namespace {

using testing::Bytes;
using testing::cell;
using testing::ReplyFrame;
using testing::Snapshot;

Bytes bytes_of(std::initializer_list<std::uint8_t> head, std::string_view tail) {
  Bytes out(head);
  for (const char c : tail) out.push_back(static_cast<std::uint8_t>(c));
  return out;
}

class PresetTest : public testing::ProgrammedDriverTest {
 protected:
  PresetTest() { port.auto_ack = false; }
  // The value field of the start command the preset sent.
  std::string field_of_last(std::size_t from, std::size_t width) {
    const Bytes payload = port.payload(port.frames.size() - 1);
    return std::string(payload.begin() + static_cast<long>(from),
                       payload.begin() + static_cast<long>(from + width));
  }
  void accept(std::uint8_t pump = 1) { port.reply(ReplyFrame(pump, 'Q', "0")); }
};

TEST_F(PresetTest, the_volume_preset_example_carries_two_entries) {
  driver.NozzleCount[cell(1, 2)] = 2;
  accept(2);
  driver.SetPrice(1, 2, 2, 7.12, calls);
  accept(2);
  driver.PresetVolume(1, 2, 2, 20.0, calls);
  EXPECT_EQ(port.payload(1), bytes_of({0x02, 0x13, '9', '2', 'V'}, "0020004065050712"));
}

TEST_F(PresetTest, the_mono_product_amount_example_carries_entry_one_only) {
  driver.NozzleCount[cell(1, 1)] = 0;
  accept();
  driver.PresetAmount(1, 1, 1, 500.0, calls);
  EXPECT_EQ(port.payload(0), bytes_of({0x01, 0x10, '1', '1', 'P'}, "0500000040650"));
}

TEST_F(PresetTest, a_volume_preset_on_a_one_entry_pump_is_sixteen_bytes) {
  accept();
  driver.PresetVolume(1, 1, 3, 20.0, calls);  // the nozzle does not change the count
  EXPECT_EQ(port.payload(0), bytes_of({0x01, 0x0E, '9', '3', 'V'}, "00200040650"));
}

TEST_F(PresetTest, preset_amounts_scale_by_their_decimals) {
  const struct {
    std::uint8_t decimals;
    double amount;
    std::string_view field;
  } cases[] = {{0, 500, "000500"},  {1, 50.5, "000505"}, {2, 50.5, "005050"},
               {3, 50.5, "050500"}, {9, 50.5, "005050"}, {2, 1.115, "000112"}};
  for (const auto& c : cases) {
    use_decimals(c.decimals, 2);
    accept();
    driver.PresetAmount(1, 1, 1, c.amount, calls);
    EXPECT_EQ(field_of_last(5, 6), c.field) << int{c.decimals} << " " << c.amount;
  }
}

TEST_F(PresetTest, the_mono_product_fields_round_halves_their_own_ways) {
  driver.NozzleCount[cell(1, 1)] = 0;
  const struct {
    bool by_volume;
    std::uint8_t decimals;
    double value;
    std::string_view fields;
  } cases[] = {{true, 2, 10.5, "00000011"},   {true, 2, 11.5, "00000012"},
               {false, 2, 500.5, "05000000"}, {false, 2, 501.5, "05020000"},
               {false, 3, 50.55, "05060000"}, {false, 0, 1250, "00120000"}};
  for (const auto& c : cases) {
    use_decimals(c.decimals, 2);
    accept();
    if (c.by_volume) {
      driver.PresetVolume(1, 1, 2, c.value, calls);
    } else {
      driver.PresetAmount(1, 1, 2, c.value, calls);
    }
    EXPECT_EQ(field_of_last(5, 8), c.fields) << c.value;
    EXPECT_EQ(port.payload(port.frames.size() - 1).size(), 18U);
  }
}

TEST_F(PresetTest, a_preset_records_itself_and_clears_the_readings) {
  driver.DispAmount[cell(1, 1)] = 5;
  driver.DispVolume[cell(1, 1)] = 6;
  accept();
  driver.PresetAmount(1, 1, 2, 100.0, calls);
  EXPECT_EQ(driver.PresetValue[cell(1, 1)], 100.0);
  EXPECT_EQ(driver.SelectedNozzle[cell(1, 1)], 2);
  EXPECT_EQ(driver.DispAmount[cell(1, 1)], 0.0);
  port.silence();
  EXPECT_THROW(driver.PresetVolume(1, 1, 3, 10.0, calls), ESerialIO);
  EXPECT_EQ(driver.PresetValue[cell(1, 1)], 0.0);  // a volume preset has no amount target
  EXPECT_EQ(driver.SelectedNozzle[cell(1, 1)], 3);
}

TEST_F(PresetTest, the_start_command_follows_the_nozzle_count_not_the_setting) {
  driver.NozzleCount[cell(1, 1)] = 0;
  driver.MonoStart = false;
  accept();
  driver.PresetVolume(1, 1, 1, 5.0, calls);
  EXPECT_EQ(port.payload(0)[2], '1');
}

TEST_F(PresetTest, preset_values_that_do_not_fit_their_field_change_nothing) {
  const std::string before = Snapshot(driver);
  EXPECT_THROW(driver.PresetVolume(1, 1, 1, 10000.0, calls), Exception);
  EXPECT_THROW(driver.PresetAmount(1, 1, 1, -5.0, calls), Exception);
  EXPECT_THROW(driver.PresetAmount(1, 1, 1, std::nan(""), calls), Exception);
  EXPECT_THROW(driver.PresetVolume(1, 1, 1, INFINITY, calls), Exception);
  EXPECT_THROW(driver.PresetVolume(1, 1, 0, 1.0, calls), Exception);
  EXPECT_THROW(driver.PresetVolume(1, 1, 7, 1.0, calls), Exception);
  EXPECT_THROW(driver.PresetAmount(41, 1, 1, 1.0, calls), Exception);
  EXPECT_THROW(driver.PresetAmount(1, 33, 1, 1.0, calls), Exception);
  driver.NozzleCount[cell(1, 1)] = 0;
  const std::string mono_before = Snapshot(driver);
  EXPECT_THROW(driver.PresetVolume(1, 1, 1, 10000.0, calls), Exception);
  EXPECT_THROW(driver.PresetAmount(1, 1, 1, 9999.5, calls), Exception);
  EXPECT_EQ(Snapshot(driver), mono_before);
  driver.NozzleCount[cell(1, 1)] = 1;
  EXPECT_EQ(Snapshot(driver), before);
  EXPECT_TRUE(port.frames.empty());
}

TEST_F(PresetTest, preset_failures_name_their_preset) {
  port.silence().silence();
  try {
    driver.PresetVolume(1, 1, 1, 1.0, calls);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), cp1251("Ошибка задания отпуска по литрам").c_str());
  }
  try {
    driver.PresetAmount(1, 1, 1, 1.0, calls);
    FAIL();
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), cp1251("Ошибка задания отпуска по сумме").c_str());
  }
}

}  // namespace
}  // namespace zarvo
