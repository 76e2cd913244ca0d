#include "tests/support/driver_fixture.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/port_adapter.h"

namespace zarvo::testing {

TempSettingsDir::TempSettingsDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zarvo-test-XXXXXX").string();
  path_ = mkdtemp(pattern.data());
  setenv("ZARVO_WINDIR", path_.c_str(), 1);
}

TempSettingsDir::~TempSettingsDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

void TempSettingsDir::write_file(const std::string& text) const {
  std::ofstream(file(), std::ios::binary) << text;
}

std::string TempSettingsDir::read_file() const {
  std::ifstream in(file(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

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
  out += static_cast<char>(d.MonoStart.load());
  out += static_cast<char>(d.StoredSumDecimals.load());
  out += static_cast<char>(d.StoredPriceDecimals.load());
  return out;
}

}  // namespace zarvo::testing
