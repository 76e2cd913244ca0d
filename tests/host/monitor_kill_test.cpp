// `zarvo monitor --journal` killed with SIGKILL at random moments while the
// simulator's customers keep fuelling, and started again each time; at the
// end the journal is held against the simulator's record.
//
//   monitor_kill_test ZARVO LIBRARY [--kills N] [--seed S] [--keep DIR]
//
// Exit status 0 when no released delivery was lost, none was journaled twice
// and every reading is right.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "host/soak/record_check.h"
#include "host/tools/journal.h"
#include "sim/pty_simulator.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct Settings {
  std::string zarvo;
  std::string library;
  unsigned kills = 6;
  std::uint64_t seed = 1;
  std::string keep;
};

pid_t start_monitor(const Settings& s, const std::string& device, const std::string& journal) {
  std::vector<std::string> args = {s.zarvo,  "--lib",      s.library,   "--line", "1=" + device,
                                   "--json", "monitor",    "--journal", journal,  "--pumps",
                                   "4",      "--interval", "2"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    std::exit(2);
  }
  return pid;
}

// The status of a monitor that ended by itself, or -1.
int end_monitor(pid_t pid, int signal) {
  ::kill(pid, signal);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// SQLite's own verdict on a file that saw commits cut short.
std::string integrity(const std::string& path) {
  sqlite3* db = nullptr;
  std::string verdict = "cannot open";
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* query = nullptr;
    if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &query, nullptr) == SQLITE_OK &&
        sqlite3_step(query) == SQLITE_ROW) {
      verdict = reinterpret_cast<const char*>(sqlite3_column_text(query, 0));
    }
    sqlite3_finalize(query);
  }
  sqlite3_close(db);
  return verdict;
}

int run(const Settings& s) {
  const fs::path dir =
      s.keep.empty() ? fs::temp_directory_path() / ("zarvo-kill-" + std::to_string(::getpid()))
                     : fs::path(s.keep);
  fs::create_directories(dir);
  const std::string journal = (dir / "journal.db").string();
  fs::remove(journal);
  ::setenv("ZARVO_WINDIR", dir.c_str(), 1);

  zarvo::sim::Options options;
  options.link.pacing = false;
  options.model.self_service = true;
  options.model.flow_lpm = 600;  // 1 to 10 l in 0.1 to 1 s
  options.model.reaction = 20ms;
  zarvo::sim::PtySimulator sim(options);

  std::mt19937_64 random(s.seed);
  const auto began = std::chrono::steady_clock::now();
  for (unsigned kill = 0; kill < s.kills; ++kill) {
    const pid_t pid = start_monitor(s, sim.device_path(), journal);
    std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 1400));
    end_monitor(pid, SIGKILL);
  }
  // A last run that ends in its own time releases what the killed ones left.
  const pid_t pid = start_monitor(s, sim.device_path(), journal);
  std::this_thread::sleep_for(1500ms);
  const int status = end_monitor(pid, SIGTERM);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

  // Only released deliveries must be in the journal: the pumps still hold the
  // others and report them to the next monitor. One written just before its
  // release went out may be there as well.
  std::vector<zarvo::sim::Transaction> released;
  std::set<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> held;
  std::size_t completed = 0;
  for (const zarvo::sim::Transaction& t : sim.simulator().transactions()) {
    ++completed;
    if (t.acknowledged) {
      released.push_back(t);
    } else {
      held.insert(
          {static_cast<std::uint32_t>(t.line), static_cast<std::uint32_t>(t.pump), t.number});
    }
  }
  std::vector<zarvo::host::JournalEntry> entries;
  std::size_t early = 0;
  std::set<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> early_seen;
  std::size_t early_doubled = 0;
  for (const zarvo::host::JournalEntry& e : zarvo::host::Journal(journal).entries_after(0)) {
    if (held.contains({e.line, e.pump, e.transaction})) {
      ++early;
      early_doubled += early_seen.insert({e.line, e.pump, e.transaction}).second ? 0 : 1;
    } else {
      entries.push_back(e);
    }
  }
  const zarvo::host::SoakVerdict verdict = zarvo::host::compare_records(released, entries);
  const std::string check = integrity(journal);
  if (check != "ok") std::printf("  journal integrity: %s\n", check.c_str());
  for (const std::string& detail : verdict.details) std::printf("  %s\n", detail.c_str());
  std::printf(
      "monitor kill test: seed %llu, %u kills in %.1f s; %zu deliveries completed, %zu released, "
      "%zu journaled (%zu before their release); lost %llu, duplicated %llu, wrong %llu; last "
      "monitor exit %d\n",
      static_cast<unsigned long long>(s.seed), s.kills, seconds, completed, released.size(),
      entries.size() + early, early, static_cast<unsigned long long>(verdict.lost),
      static_cast<unsigned long long>(verdict.duplicated + early_doubled),
      static_cast<unsigned long long>(verdict.wrong), status);
  if (s.keep.empty()) fs::remove_all(dir);
  const bool enough = released.size() >= s.kills;
  if (!enough) std::printf("too few deliveries released to mean anything\n");
  // Ended by SIGTERM, the monitor leaves with the interrupt status.
  constexpr int kInterrupted = 130;
  return verdict.clean() && early_doubled == 0 && status == kInterrupted && enough && check == "ok"
             ? 0
             : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s ZARVO LIBRARY [--kills N] [--seed S] [--keep DIR]\n", argv[0]);
    return 2;
  }
  Settings s;
  s.zarvo = argv[1];
  s.library = argv[2];
  for (int i = 3; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    if (key == "--kills") {
      s.kills = static_cast<unsigned>(std::stoul(argv[i + 1]));
    } else if (key == "--seed") {
      s.seed = std::stoull(argv[i + 1]);
    } else if (key == "--keep") {
      s.keep = argv[i + 1];
    } else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  return run(s);
}
