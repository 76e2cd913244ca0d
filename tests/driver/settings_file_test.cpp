#include "driver/settings_file.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "tests/support/driver_fixture.h"
#include "tests/support/unprivileged.h"

namespace zarvo {
namespace {

using testing::AsUnprivileged;
using testing::CheckFor;
using testing::GiveToUser;
using testing::kNobody;
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

TEST(Settings, a_missing_settings_file_gives_the_defaults_and_writes_nothing) {
  TempSettingsDir dir;
  const Loaded s = load();
  EXPECT_EQ(s.sum, 2);
  EXPECT_EQ(s.price, 2);
  EXPECT_FALSE(s.mono);
  EXPECT_FALSE(std::filesystem::exists(dir.file()));
}

TEST(Settings, settings_are_whole_integers_of_which_the_low_byte_is_kept) {
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

TEST(Settings, malformed_settings_files_give_the_defaults_or_the_right_value) {
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

TEST(Settings, an_unreadable_settings_file_gives_the_defaults) {
  TempSettingsDir dir;
  std::filesystem::create_directory(dir.file());  // a folder where the file should be
  const Loaded s = load();
  EXPECT_EQ(s.sum, 2);
  ScriptedPort port;
  TVM30 driver(port.port(), CheckFor(nullptr));
  EXPECT_THROW(SaveSettings(driver), Exception);
}

TEST(Settings, a_save_writes_all_three_keys_and_keeps_everything_else) {
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

TEST(Settings, a_save_creates_the_directory_file_and_section) {
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

// Saves as that user, expecting a failure whose message holds reason.
std::string SaveRefused(const TVM30& driver, const std::string& reason) {
  return AsUnprivileged([&] {
    try {
      SaveSettings(driver);
      ADD_FAILURE() << "saved";
    } catch (const Exception& e) {
      EXPECT_NE(std::string_view(e.what()).find(reason), std::string_view::npos) << e.what();
    }
  });
}

struct FileId {
  ino_t inode;
  mode_t mode;
  uid_t owner;
  nlink_t links;
  off_t size;
  bool operator==(const FileId&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const FileId& id) {
    return out << "inode " << id.inode << " mode " << std::oct << id.mode << std::dec << " owner "
               << id.owner << " links " << id.links << " size " << id.size;
  }
};

FileId IdOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return {st.st_ino, st.st_mode, st.st_uid, st.st_nlink, st.st_size};
}

std::set<std::string> NamesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

std::string TextOf(const std::string& path) {
  if (!std::filesystem::is_regular_file(path)) return "";
  std::ifstream in(path, std::ios::binary);
  // Through the stream buffer in one piece: some cases hold 65 MiB.
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

constexpr std::string_view kOldText = "[Zarvo]\r\nSDec=1\r\n";
// What a driver that read kOldText saves.
constexpr std::string_view kNewText = "[Zarvo]\r\nSDec=1\r\nPDec=2\r\nMPTRK=0\r\n";

TEST(Settings, a_save_updates_the_file_that_is_there_in_place) {
  const struct {
    std::string name;
    // Makes the settings file in dir; returns the path through which it is read.
    std::function<std::string(const std::string& dir)> make;
  } cases[] = {
      {"another user's writable file with a second link",
       [](const std::string& dir) {
         std::ofstream(dir + "/cnf.INI", std::ios::binary) << kOldText;
         chmod((dir + "/cnf.INI").c_str(), 0666);
         link((dir + "/cnf.INI").c_str(), (dir + "/second-name").c_str());
         return dir + "/second-name";
       }},
      {"a writable file in a read-only directory",
       [](const std::string& dir) {
         std::ofstream(dir + "/cnf.INI", std::ios::binary) << kOldText;
         GiveToUser(dir + "/cnf.INI");
         chmod(dir.c_str(), 0555);
         return dir + "/cnf.INI";
       }},
      {"a link to a file in another directory",
       [](const std::string& dir) {
         std::filesystem::create_directory(dir + "/elsewhere");
         std::ofstream(dir + "/elsewhere/zarvo.ini", std::ios::binary) << kOldText;
         GiveToUser(dir + "/elsewhere");
         GiveToUser(dir + "/elsewhere/zarvo.ini");
         symlink("elsewhere/zarvo.ini", (dir + "/cnf.INI").c_str());
         return dir + "/elsewhere/zarvo.ini";
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempSettingsDir dir;
    GiveToUser(dir.path());
    const std::string seen_through = c.make(dir.path());
    const FileId before = IdOf(dir.file());
    const auto names = NamesIn(dir.path());
    ScriptedPort port;
    TVM30 driver(port.port(), CheckFor(nullptr));
    const std::string skipped = AsUnprivileged([&] { EXPECT_NO_THROW(SaveSettings(driver)); });
    if (!skipped.empty()) GTEST_SKIP() << skipped;
    EXPECT_EQ(TextOf(seen_through), kNewText);
    FileId after = IdOf(dir.file());
    EXPECT_EQ(after.size, static_cast<off_t>(kNewText.size()));
    after.size = before.size;
    EXPECT_EQ(after, before);
    EXPECT_EQ(NamesIn(dir.path()), names);
    EXPECT_EQ(std::filesystem::is_symlink(dir.file()), c.name.starts_with("a link"));
  }
}

TEST(Settings, a_save_that_cannot_be_made_names_the_reason_and_changes_nothing) {
  const struct {
    std::string name;
    std::function<void(const std::string& file)> make;
    std::string reason;
  } cases[] = {
      {"a read-only file",
       [](const std::string& file) {
         std::ofstream(file, std::ios::binary) << kOldText;
         GiveToUser(file);
         chmod(file.c_str(), 0444);
       },
       "Permission denied"},
      {"a directory", [](const std::string& file) { std::filesystem::create_directory(file); },
       "Is a directory"},
      {"a file over 64 MiB",
       [](const std::string& file) {
         std::ofstream(file, std::ios::binary) << kOldText;
         std::filesystem::resize_file(file, 65 << 20);
         GiveToUser(file);
       },
       "File too large"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempSettingsDir dir;
    GiveToUser(dir.path());
    c.make(dir.file());
    const FileId before = IdOf(dir.file());
    const std::string head = TextOf(dir.file()).substr(0, kOldText.size());
    const auto names = NamesIn(dir.path());
    ScriptedPort port;
    TVM30 driver(port.port(), CheckFor(nullptr));
    const std::string skipped = SaveRefused(driver, dir.file() + ": " + c.reason);
    if (!skipped.empty()) GTEST_SKIP() << skipped;
    EXPECT_EQ(IdOf(dir.file()), before);
    EXPECT_EQ(TextOf(dir.file()).substr(0, kOldText.size()), head);
    EXPECT_EQ(NamesIn(dir.path()), names);
  }
}

TEST(Settings, a_failed_save_raises_and_leaves_the_old_file_as_it_was) {
  // A full disk: a file size limit binds every user. Beside the file the copy
  // fails; in a read-only directory the rewrite in place fails half-way.
  for (const bool directory_writable : {true, false}) {
    SCOPED_TRACE(directory_writable ? "writable directory" : "read-only directory");
    TempSettingsDir dir;
    dir.write_file(std::string(kOldText));
    GiveToUser(dir.path());
    GiveToUser(dir.file());
    if (!directory_writable) chmod(dir.path().c_str(), 0555);
    ScriptedPort port;
    TVM30 driver(port.port(), CheckFor(nullptr));
    const std::string skipped = AsUnprivileged([&] {
      rlimit old_limit{};
      getrlimit(RLIMIT_FSIZE, &old_limit);
      rlimit tiny = old_limit;
      tiny.rlim_cur = kOldText.size() + 8;
      const auto old_handler = signal(SIGXFSZ, SIG_IGN);
      setrlimit(RLIMIT_FSIZE, &tiny);
      EXPECT_THROW(SaveSettings(driver), Exception);
      setrlimit(RLIMIT_FSIZE, &old_limit);
      signal(SIGXFSZ, old_handler);
    });
    if (!skipped.empty()) GTEST_SKIP() << skipped;
    EXPECT_EQ(dir.read_file(), kOldText);
    EXPECT_EQ(NamesIn(dir.path()), std::set<std::string>{"cnf.INI"});
  }
}

TEST(Settings, a_save_into_an_unwritable_directory_raises) {
  TempSettingsDir dir;
  GiveToUser(dir.path());
  std::filesystem::permissions(
      dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  ScriptedPort port;
  TVM30 driver(port.port(), CheckFor(nullptr));
  const std::string skipped = SaveRefused(driver, "Permission denied");
  if (!skipped.empty()) GTEST_SKIP() << skipped;
  EXPECT_TRUE(NamesIn(dir.path()).empty());
}

}  // namespace
}  // namespace zarvo
