#include "tests/support/driver_fixture.h"

#include "driver/settings_file.h"
#include "tests/support/port_adapter.h"

namespace zarvo::testing {

namespace {
template <class Table>
void append_table(std::string& out, const Table& table) {
  for (const auto& cell : table) {
    const auto value = [&] {
      if constexpr (requires { cell.load(); }) {
        return cell.load();
      } else {
        return cell;
      }
    }();
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
}
}  // namespace

ReplyCheckRegistration CheckFor(TVM30* driver) {
  return {&CheckWithDriver, driver};
}

void DriverTest::use_decimals(std::uint8_t sum, std::uint8_t price) {
  FileSettings settings = StoredSettings(driver);
  settings.sum_decimals = sum;
  settings.price_decimals = price;
  UseSettings(driver, settings);
}

std::string Snapshot(const TVM30& d) {
  std::string out;
  append_table(out, d.PriceBlock);
  out += static_cast<char>(d.LastParamNo());
  out += static_cast<char>(d.LastParamValue());
  append_table(out, d.PumpState);
  append_table(out, d.SelectedNozzle);
  append_table(out, d.TxnNo);
  append_table(out, d.DispAmount);
  append_table(out, d.DispVolume);
  append_table(out, d.PresetValue);
  append_table(out, d.TotalVolume);
  append_table(out, d.TotalAmount);
  append_table(out, d.NozzleCount);
  out += static_cast<char>(d.SumDecimals.load());
  out += static_cast<char>(d.PriceDecimals.load());
  append_table(out, d.ParamsPending);
  append_table(out, d.PriceValue);
  append_table(out, d.PriceSent);
  out += static_cast<char>(d.MonoStart.load());
  out += static_cast<char>(d.StoredSumDecimals.load());
  out += static_cast<char>(d.StoredPriceDecimals.load());
  return out;
}

}  // namespace zarvo::testing
