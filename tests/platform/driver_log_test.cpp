// The log's queue and writer on their own: what a full queue does, how files
// rotate, and that lines of many threads never mix.
#include "platform/driver_log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fresh_process.h"
#include "tests/support/log_lines.h"
#include "tests/support/settings_dir.h"

namespace zarvo::platform {
namespace {

// "event 7" for values[0] = 7; holds the writer while the test says so.
std::atomic<bool> g_writer_held{false};
void numbered(const LogRecord& record, std::string& line) {
  while (g_writer_held.load()) std::this_thread::yield();
  line += "event " + std::to_string(record.values[0]);
}

void record_events(const DriverLog& log, int first, int count) {
  for (int i = first; i < first + count; ++i) {
    log.Record(LogEvent::kObjectCreated, [&](LogRecord& record) { record.values[0] = i; });
  }
}

TEST(DriverLogQueue, a_full_queue_drops_events_and_a_line_says_how_many) {
  testing::TempSettingsDir folder;
  const std::string path = folder.path() + "/queue.log";
  constexpr int kThreads = 3;
  constexpr int kEach = 1000;
  g_writer_held = true;
  {
    DriverLog log;
    log.Open({path, 1 << 30, 0}, &numbered);
    ASSERT_TRUE(log.on());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
      threads.emplace_back(record_events, std::cref(log), t * kEach, kEach);
    for (auto& thread : threads) thread.join();
    g_writer_held = false;
  }
  int events = 0;
  long dropped = 0;
  std::vector<int> last(kThreads, -1);
  for (const std::string& line : testing::ReadLogLines(path)) {
    ASSERT_TRUE(testing::WellFormedLogLine(line)) << line;
    const std::string text = line.substr(25);
    if (text.starts_with("event ")) {
      const int n = std::stoi(text.substr(6));
      EXPECT_GT(n, last[n / kEach]) << "each thread's events in order";
      last[n / kEach] = n;
      ++events;
    } else {
      EXPECT_NE(text.find("events were not logged: the log's queue was full"), text.npos) << text;
      dropped += std::stol(text);
    }
  }
  EXPECT_GE(dropped, kThreads * kEach - static_cast<long>(LogQueue::kCapacity) - 1);
  EXPECT_EQ(events + dropped, kThreads * kEach);
}

// A host that blocks Ctrl-C and waits for it must get it, not the writer
// thread its driver started earlier.
TEST(DriverLogWriter, leaves_the_process_signals_to_the_host) {
  testing::TempSettingsDir folder;
  testing::InFreshProcess([&folder] {
    DriverLog log;
    log.Open({folder.path() + "/signals.log", 1 << 20, 0}, &numbered);
    ASSERT_TRUE(log.on());
    EXPECT_TRUE(testing::InterruptReachesABlockingThread());
  });
}

TEST(DriverLogFiles, a_file_at_its_size_limit_is_rotated_and_the_oldest_let_go) {
  testing::TempSettingsDir folder;
  const std::string path = folder.path() + "/rotating.log";
  {
    DriverLog log;
    log.Open({path, 200, 2}, &numbered);
    record_events(log, 0, 40);
  }
  for (const std::string& name : {path, path + ".1", path + ".2"}) {
    ASSERT_TRUE(std::filesystem::exists(name)) << name;
    EXPECT_LE(std::filesystem::file_size(name), 200U) << name;
    for (const std::string& line : testing::ReadLogLines(name)) {
      EXPECT_TRUE(testing::WellFormedLogLine(line)) << name << ": " << line;
    }
  }
  EXPECT_FALSE(std::filesystem::exists(path + ".3"));
  const auto newest = testing::ReadLogLines(path);
  ASSERT_FALSE(newest.empty());
  EXPECT_TRUE(newest.back().ends_with("event 39")) << newest.back();
}

TEST(DriverLogFiles, a_relative_path_is_taken_from_the_settings_folder) {
  EXPECT_EQ(LogPathBeside("/etc/zarvo/cnf.INI", "logs/driver.log"), "/etc/zarvo/logs/driver.log");
  EXPECT_EQ(LogPathBeside("/etc/zarvo/cnf.INI", "/var/log/zarvo.log"), "/var/log/zarvo.log");
}

}  // namespace
}  // namespace zarvo::platform
