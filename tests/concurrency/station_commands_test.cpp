// The station under many clients at once: commands queued from many threads
// on two lines while each line's worker polls. Calls for one line must never
// overlap: under ThreadSanitizer two at once in the driver's tables of one
// line show up as a race, and the commands' own count here says so too.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <future>
#include <memory>
#include <sstream>
#include <thread>
#include <vector>

#include "host/session/session.h"
#include "host/station/station.h"
#include "host/station/station_commands.h"
#include "tests/support/settings_dir.h"

namespace zarvo::host {
namespace {

constexpr std::uint32_t kLines = 2;
constexpr int kClients = 6;
constexpr int kCommandsEach = 8;

// A session of kLines built-in simulated lines at full speed.
class StationCommands : public ::testing::Test {
 protected:
  static SessionOptions lines(std::vector<std::unique_ptr<BuiltinSimulator>>& simulators) {
    SessionOptions options;
    options.library = ZARVO_TEST_LIBRARY;
    options.simulator.link.pacing = false;
    simulators = bind_simulated_lines(options, kLines);
    return options;
  }

  zarvo::testing::TempSettingsDir settings_;
  std::vector<std::unique_ptr<BuiltinSimulator>> simulators_;
  std::ostringstream diagnostics_;
  Session session_{lines(simulators_), diagnostics_};
};

TEST_F(StationCommands, a_refusal_is_judged_on_its_own_line_while_other_lines_poll) {
  const ExchangeMark on_1 = session_.exchange_mark(1);
  const ExchangeMark on_2 = session_.exchange_mark(2);
  session_.driver().write_param(1, 1, 40, 7);  // more decimals than the pump takes: refused
  EXPECT_NO_THROW(session_.require_accepted(on_2));
  // Far more exchanges on line 2 than a line's history holds.
  for (int poll = 0; poll < 100; ++poll) session_.driver().poll(2, 1, 0);
  EXPECT_THROW(session_.require_accepted(on_1), Refused);
}

TEST_F(StationCommands, commands_from_many_clients_never_overlap_on_one_line) {
  StationOptions polling;
  polling.pumps = 2;
  Station station(session_, polling);

  std::array<std::atomic<int>, kLines> running{};
  std::atomic<int> overlaps{0};
  // Counts how many commands of its line run at once.
  const auto counted = [&](Command command) {
    const auto inner = command.run;
    const std::uint32_t line = command.line;
    command.run = [&, inner, line](Session& s, Output& o) {
      if (running.at(line - 1).fetch_add(1) != 0) ++overlaps;
      inner(s, o);
      running.at(line - 1).fetch_sub(1);
    };
    return command;
  };
  std::atomic<int> done{0};
  std::vector<std::jthread> clients;
  for (int client = 0; client < kClients; ++client) {
    clients.emplace_back([&, client] {
      for (int i = 0; i < kCommandsEach; ++i) {
        const PumpTarget target{static_cast<std::uint32_t>(1 + (client + i) % kLines),
                                static_cast<std::uint32_t>(1 + i % 2)};
        Command command = i % 3 == 0   ? price_command(target, 1, 40 + client)
                          : i % 3 == 1 ? totals_command(target, 1)
                                       : read_param_command(target, 40);
        const CommandResult result =
            station.submit(counted(std::move(command)), "client " + std::to_string(client)).get();
        EXPECT_EQ(result.outcome, Outcome::kDone) << result.error;
        ++done;
      }
    });
  }
  clients.clear();
  EXPECT_EQ(done, kClients * kCommandsEach);
  EXPECT_EQ(overlaps, 0);
  ASSERT_TRUE(station.wait_for_sweeps(2, std::chrono::seconds(10)));
  for (const LineView& line : station.lines()) {
    EXPECT_TRUE(line.down.empty()) << line.line << ": " << line.down;
    EXPECT_GT(line.polls, 0U) << line.line;
  }
}

}  // namespace
}  // namespace zarvo::host
