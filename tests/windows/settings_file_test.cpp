// The settings file on Windows: "cnf.INI" in the Windows directory, read and
// written through the Win32 private-profile functions. Runs under wine; the
// last line reads "N passed, M failed".
#include <windows.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/ini_file.h"
#include "tests/support/settings_dir.h"
#include "tests/support/tally.h"

namespace {

using zarvo::platform::IniEntry;
using zarvo::platform::IniFilePath;
using zarvo::platform::ReadIniString;
using zarvo::platform::WriteIniStrings;

using zarvo::testing::Tally;
using zarvo::testing::TempSettingsDir;

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void put_file(const std::string& path, std::string_view text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void the_path_is_the_windows_directory_and_the_fixed_name(Tally& t, const TempSettingsDir& dir) {
  CHECK(t, IniFilePath() == dir.file());
}

void a_missing_file_section_or_key_reads_as_absent(Tally& t, const std::string& path) {
  DeleteFileA(path.c_str());
  CHECK(t, !ReadIniString(path, "Zarvo", "SDec"));
  put_file(path, "[Other]\r\nSDec=5\r\n[Zarvo]\r\nPDec=1\r\nEmpty=\r\n");
  CHECK(t, !ReadIniString(path, "Zarvo", "SDec"));
  CHECK(t, !ReadIniString(path, "Missing", "PDec"));
  // A key that is present but empty is not the same as an absent one.
  CHECK(t, ReadIniString(path, "Zarvo", "Empty") == std::string());
}

void names_match_without_regard_to_case(Tally& t, const std::string& path) {
  put_file(path, "[zARVO]\r\nsdec=3\r\n");
  CHECK(t, ReadIniString(path, "Zarvo", "SDec") == "3");
}

void a_write_creates_the_file_and_keeps_other_sections(Tally& t, const std::string& path) {
  DeleteFileA(path.c_str());
  const std::array<IniEntry, 3> first = {IniEntry{"SDec", "0"}, IniEntry{"PDec", "3"},
                                         IniEntry{"MPTRK", "1"}};
  WriteIniStrings(path, "Zarvo", first);
  CHECK(t, file_text(path) == "[Zarvo]\r\nSDec=0\r\nPDec=3\r\nMPTRK=1\r\n");

  put_file(path, "[Station]\r\nName=North\r\n[Zarvo]\r\nSDec=2\r\n");
  const std::array<IniEntry, 2> second = {IniEntry{"SDec", "1"}, IniEntry{"MPTRK", "0"}};
  WriteIniStrings(path, "Zarvo", second);
  CHECK(t, ReadIniString(path, "Station", "Name") == "North");
  CHECK(t, ReadIniString(path, "Zarvo", "SDec") == "1");
  CHECK(t, ReadIniString(path, "Zarvo", "MPTRK") == "0");
  // Read back through Win32 itself, not only through our reader.
  std::array<char, 16> value{};
  GetPrivateProfileStringA("Zarvo", "SDec", "", value.data(), value.size(), path.c_str());
  CHECK(t, std::string_view(value.data()) == "1");
}

void a_write_that_cannot_reach_the_file_is_reported(Tally& t, const TempSettingsDir& dir) {
  const std::string path = dir.path() + "\\no-such-directory\\cnf.INI";
  const std::array<IniEntry, 1> entry = {IniEntry{"SDec", "1"}};
  bool reported = false;
  try {
    WriteIniStrings(path, "Zarvo", entry);
  } catch (const std::exception& e) {
    reported = std::string_view(e.what()).find(path) != std::string_view::npos;
  }
  CHECK(t, reported);
}

}  // namespace

int main() {
  Tally t;
  const TempSettingsDir dir;
  const std::string path = IniFilePath();
  the_path_is_the_windows_directory_and_the_fixed_name(t, dir);
  a_missing_file_section_or_key_reads_as_absent(t, path);
  names_match_without_regard_to_case(t, path);
  a_write_creates_the_file_and_keeps_other_sections(t, path);
  a_write_that_cannot_reach_the_file_is_reported(t, dir);
  return t.finish();
}
