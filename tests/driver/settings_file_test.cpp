#include "driver/settings_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support/driver_fixture.h"

namespace zarvo {
namespace {

using testing::CheckFor;
using testing::ScriptedPort;
using testing::TempSettingsDir;

struct Loaded {
  int sum;
  int price;
  bool mono;
};

Loaded load() {
  ScriptedPort port;
  TVM30 driver(port.port(), CheckFor(nullptr));
  return {driver.SumDecimals, driver.PriceDecimals, driver.MonoStart};
}

TEST(Settings, AMissingFileGivesTheDefaultsAndWritesNothing) {
  TempSettingsDir dir;
  const Loaded s = load();
  EXPECT_EQ(s.sum, 2);
  EXPECT_EQ(s.price, 2);
  EXPECT_FALSE(s.mono);
  EXPECT_FALSE(std::filesystem::exists(dir.file()));
}

TEST(Settings, ValuesAreWholeIntegersOfWhichTheLowByteIsKept) {
  TempSettingsDir dir;
  dir.write_file("[zarvo]\r\nsdec=258\r\nPDEC = 12abc\r\nMPTRK=5\r\n");
  Loaded s = load();
  EXPECT_EQ(s.sum, 2);
  EXPECT_EQ(s.price, 2);  // no integer: the default
  EXPECT_TRUE(s.mono);
  dir.write_file("[Zarvo]\nSDec= 3 \nPDec=-1\nMPTRK=0\n");
  s = load();
  EXPECT_EQ(s.sum, 3);
  EXPECT_EQ(s.price, 2);  // 255 is no number of decimals: the default
  EXPECT_FALSE(s.mono);
}

TEST(Settings, MalformedFilesGiveTheDefaultsOrTheRightValue) {
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 37 + 11) % 256);
  const struct {
    std::string name;
    std::string text;
    Loaded expected;
  } cases[] = {
      {"binary garbage", garbage, {2, 2, false}},
      {"garbage around the section", garbage + "\n[Zarvo]\nSDec=1\n" + garbage, {1, 2, false}},
      {"a line of a megabyte",
       "[Zarvo]\nPDec=" + std::string(1 << 20, '7') + "\nSDec=3\n",
       {3, 2, false}},
      {"no section", "SDec=1\nPDec=1\nMPTRK=1\n", {2, 2, false}},
      {"duplicate keys", "[Zarvo]\nSDec=1\nSDec=0\n", {1, 2, false}},
      {"duplicate sections", "[Zarvo]\nSDec=1\n[Zarvo]\nPDec=0\n", {1, 2, false}},
      {"CRLF", "[Zarvo]\r\nSDec=0\r\nPDec=3\r\nMPTRK=1\r\n", {0, 3, true}},
      {"byte-order mark", "\xEF\xBB\xBF[Zarvo]\r\nSDec=1\r\n", {1, 2, false}},
      {"NUL bytes", std::string("[Zarvo]\nSDec=1\0\nPDec=0\n", 24), {2, 0, false}},
      {"empty values", "[Zarvo]\nSDec=\nPDec= \nMPTRK=\n", {2, 2, false}},
  };
  for (const auto& c : cases) {
    TempSettingsDir dir;
    dir.write_file(c.text);
    const Loaded s = load();
    EXPECT_EQ(s.sum, c.expected.sum) << c.name;
    EXPECT_EQ(s.price, c.expected.price) << c.name;
    EXPECT_EQ(s.mono, c.expected.mono) << c.name;
  }
}

TEST(Settings, AnUnreadableFileGivesTheDefaults) {
  TempSettingsDir dir;
  std::filesystem::create_directory(dir.file());  // a folder where the file should be
  const Loaded s = load();
  EXPECT_EQ(s.sum, 2);
  ScriptedPort port;
  TVM30 driver(port.port(), CheckFor(nullptr));
  EXPECT_THROW(SaveSettings(driver), Exception);
}

TEST(ParseIniInteger, AcceptsOnlyAWholeDecimalInteger) {
  EXPECT_EQ(ParseIniInteger(" 42\t"), 42);
  EXPECT_EQ(ParseIniInteger("+7"), 7);
  EXPECT_EQ(ParseIniInteger("-3"), -3);
  for (std::string_view bad :
       {"", " ", "1.5", "0x10", "12abc", "99999999999", "--1", "+-5", "1 2"}) {
    EXPECT_FALSE(ParseIniInteger(bad)) << bad;
  }
}

TEST(Settings, ASaveWritesAllThreeKeysAndKeepsEverythingElse) {
  TempSettingsDir dir;
  const std::string foreign =
      "; station\r\n[Other]\r\nSDec=9\r\n\r\n[ZARVO]\r\nKeep=me\r\nSDec=1\r\n";
  dir.write_file(foreign);
  ScriptedPort port;
  TVM30 driver(port.port(), CheckFor(nullptr));
  UseSettings(driver, {0, 3, true});
  SaveSettings(driver);
  EXPECT_EQ(dir.read_file(),
            "; station\r\n[Other]\r\nSDec=9\r\n\r\n[ZARVO]\r\nKeep=me\r\nSDec=0\r\nPDec=3\r\n"
            "MPTRK=1\r\n");
}

TEST(Settings, ASaveCreatesTheDirectoryFileAndSection) {
  TempSettingsDir dir;
  const std::string nested = dir.path() + "/a/b";
  setenv("ZARVO_WINDIR", nested.c_str(), 1);
  ScriptedPort port;
  TVM30 driver(port.port(), CheckFor(nullptr));
  SaveSettings(driver);
  dir.write_file("");
  std::ifstream in(nested + "/cnf.INI", std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text, "[Zarvo]\r\nSDec=2\r\nPDec=2\r\nMPTRK=0\r\n");
}

TEST(Settings, AFailedSaveRaisesAndLeavesTheOldFileAsItWas) {
  TempSettingsDir dir;
  dir.write_file("[Zarvo]\r\nSDec=1\r\n");
  ScriptedPort port;
  TVM30 driver(port.port(), CheckFor(nullptr));
  driver.SumDecimals = 3;
  // A full disk: even root is bound by the file size limit.
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit tiny = old_limit;
  tiny.rlim_cur = 8;
  const auto old_handler = signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &tiny);
  EXPECT_THROW(SaveSettings(driver), Exception);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_EQ(dir.read_file(), "[Zarvo]\r\nSDec=1\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(Settings, ASaveIntoAnUnwritableDirectoryRaises) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only directories";
  TempSettingsDir dir;
  dir.write_file("[Zarvo]\r\nSDec=1\r\n");
  std::filesystem::permissions(
      dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  ScriptedPort port;
  TVM30 driver(port.port(), CheckFor(nullptr));
  EXPECT_THROW(SaveSettings(driver), Exception);
  EXPECT_EQ(dir.read_file(), "[Zarvo]\r\nSDec=1\r\n");
}

}  // namespace
}  // namespace zarvo
