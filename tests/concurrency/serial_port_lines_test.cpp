// The host's port object carrying several lines at once over pseudo-terminals,
// each line driven by its own thread through one driver object. Under
// ThreadSanitizer any state the lines share without a guard shows up here.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "host/port/serial_port.h"
#include "sim/pty_simulator.h"
#include "tests/support/driver_fixture.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

constexpr std::uint32_t kSerialLines = 4;
constexpr std::uint32_t kPumps = 3;
constexpr int kRounds = 5;

struct LineOutcome {
  int idle_polls = 0;
  std::uint32_t decimals_param = 0;
};

TEST(SerialPortLines, every_line_polls_its_own_simulator_while_the_others_poll_theirs) {
  testing::TempSettingsDir settings;
  std::vector<std::unique_ptr<sim::PtySimulator>> simulators;
  host::SerialPort port;
  for (std::uint32_t line = 1; line <= kSerialLines; ++line) {
    sim::Options options;
    options.link.pacing = false;
    options.link.turnaround = sim::Millis{0};
    options.model.line = static_cast<int>(line);
    options.model.pumps = static_cast<int>(kPumps);
    simulators.push_back(std::make_unique<sim::PtySimulator>(options));
    port.bind(line, simulators.back()->device_path());
  }
  std::mutex seen_mutex;
  std::array<int, kSerialLines> seen{};  // exchanges the observer saw, per line
  port.set_observer([&](const host::ExchangeRecord& record) {
    std::lock_guard lock(seen_mutex);
    ++seen.at(record.line - 1);
  });
  zarvo_da30* driver = GetDA30(0, nullptr, port.port());
  const zarvo_da30_ops& ops = *driver->ops;
  std::array<LineOutcome, kSerialLines> outcomes{};
  {
    std::vector<std::jthread> threads;
    for (std::uint32_t line = 1; line <= kSerialLines; ++line) {
      threads.emplace_back([&, line] {
        LineOutcome& out = outcomes[line - 1];
        try {
          EXPECT_EQ(ops.OpenLine(driver, line), 0);
          for (int round = 0; round < kRounds; ++round) {
            for (std::uint32_t pump = 1; pump <= kPumps; ++pump) {
              zarvo_poll_result record{};
              ops.PollPump(&record, driver, line, pump, 2);
              if (record.bytes[0] == 192) ++out.idle_polls;
            }
          }
          out.decimals_param = ops.ReadParam(driver, line, kPumps, 40);
        } catch (const zarvo::Exception& e) {
          ADD_FAILURE() << "line " << line << ": " << e.what();
        }
      });
    }
  }
  for (std::uint32_t line = 1; line <= kSerialLines; ++line) {
    EXPECT_EQ(outcomes[line - 1].idle_polls, kRounds * static_cast<int>(kPumps)) << line;
    EXPECT_EQ(outcomes[line - 1].decimals_param, 2U) << line;
    // Three parameter writes at each pump's first poll, a status a poll, one read.
    EXPECT_EQ(seen[line - 1], static_cast<int>(kPumps * (3 + kRounds) + 1)) << line;
  }
  zarvo_da30_destroy(driver);
}

}  // namespace
}  // namespace zarvo
