#include "platform/ini_text.h"

#include <gtest/gtest.h>

#include <array>

namespace zarvo::platform {
namespace {

TEST(IniLookup, ini_names_match_without_regard_to_case_and_the_first_wins) {
  const std::string text =
      "\xEF\xBB\xBF[zarvo]\r\n; SDec=7\r\nsdec = \"3\"\r\nSDec=4\r\n[ZARVO]\r\nPDec=1\r\n";
  EXPECT_EQ(ini_lookup(text, "Zarvo", "SDec"), "3");
  EXPECT_EQ(ini_lookup(text, "Zarvo", "PDec"), std::nullopt);  // only the first section counts
  EXPECT_EQ(ini_lookup(text, "Other", "SDec"), std::nullopt);
}

TEST(IniLookup, a_lookup_survives_text_that_is_no_ini_file) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131) % 256);
  EXPECT_EQ(ini_lookup(garbage, "Zarvo", "SDec"), std::nullopt);
  EXPECT_EQ(ini_lookup("SDec=1\n", "Zarvo", "SDec"), std::nullopt);  // no section
  EXPECT_EQ(ini_lookup("[Zarvo", "Zarvo", "SDec"), std::nullopt);
  EXPECT_EQ(ini_lookup("[Zarvo]\n" + std::string(1 << 20, 'x') + "\nSDec=1", "Zarvo", "SDec"), "1");
}

TEST(IniWithEntries, a_write_replaces_in_place_appends_to_the_section_and_keeps_line_endings) {
  const std::array<IniEntry, 2> entries = {IniEntry{"SDec", "0"}, IniEntry{"MPTRK", "1"}};
  EXPECT_EQ(ini_with_entries("[Zarvo]\nsdec=2\n\n[B]\nx=1\n", "Zarvo", entries),
            "[Zarvo]\nSDec=0\nMPTRK=1\n\n[B]\nx=1\n");
  EXPECT_EQ(ini_with_entries("[A]\r\nx=1", "Zarvo", entries),
            "[A]\r\nx=1\r\n[Zarvo]\r\nSDec=0\r\nMPTRK=1\r\n");
  EXPECT_EQ(ini_with_entries("", "Zarvo", entries), "[Zarvo]\r\nSDec=0\r\nMPTRK=1\r\n");
  EXPECT_EQ(ini_with_entries("[Zarvo]", "Zarvo", entries), "[Zarvo]\r\nSDec=0\r\nMPTRK=1\r\n");
}

TEST(IniWithEntries, a_lone_carriage_return_ends_a_line_and_a_write_reads_back_exactly) {
  const std::array<IniEntry, 1> entries = {IniEntry{"SDec", "3"}};
  const std::string written = ini_with_entries("[Zarvo\r\nSDec=4\r", "Zarvo", entries);
  EXPECT_EQ(ini_lookup(written, "Zarvo", "SDec"), "3");
  EXPECT_EQ(ini_lookup("[Zarvo]\rSDec=1\rPDec=2", "Zarvo", "PDec"), "2");
}

TEST(ParseIniInteger, a_setting_is_read_only_as_a_whole_decimal_integer) {
  EXPECT_EQ(ParseIniInteger(" 42\t"), 42);
  EXPECT_EQ(ParseIniInteger("+7"), 7);
  EXPECT_EQ(ParseIniInteger("-3"), -3);
  for (std::string_view bad :
       {"", " ", "1.5", "0x10", "12abc", "99999999999", "--1", "+-5", "1 2"}) {
    EXPECT_FALSE(ParseIniInteger(bad)) << bad;
  }
}

}  // namespace
}  // namespace zarvo::platform
