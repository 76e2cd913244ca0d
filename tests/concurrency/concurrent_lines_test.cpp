// Several lines driven at once through one driver object, each by its own
// thread against its own simulated dispenser. Built under ThreadSanitizer by
// `make tsan`: any state that two lines share without care shows up there.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <thread>
#include <vector>

#include "sim/dispenser.h"
#include "sim/request.h"
#include "tests/support/driver_fixture.h"
#include "tests/support/log_lines.h"
#include "tests/support/port_adapter.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

constexpr int kLines = 8;

// A port object whose lines are independent: each has its own dispenser, clock
// and registered check, touched only by the thread that drives that line.
class SimulatedLines {
 public:
  SimulatedLines() {
    for (int i = 0; i < kLines; ++i) {
      sim::ModelOptions options;
      options.line = i + 1;
      lines_[i].dispenser.emplace(options);
    }
  }
  zarvo_port* port() { return adapter_.port(); }

  std::int32_t GetLineResult(std::uint32_t) { return 1; }
  void SetReplyCode(std::uint32_t, std::uint32_t) {}
  void SetRxState(std::uint32_t n, std::uint32_t s) {
    line(n).rx_state = static_cast<std::int32_t>(s);
  }
  std::int32_t GetRxState(std::uint32_t n) { return line(n).rx_state; }
  std::int32_t ConfigureLine(std::uint32_t, std::uint32_t, std::uint32_t) { return 0; }
  void SetReplyCheck(std::uint32_t n, zarvo_reply_check c, void* x) {
    line(n).check = c;
    line(n).context = x;
  }
  std::int32_t SendAndReceive(std::uint32_t n, const std::uint8_t* tx, std::uint32_t len,
                              std::uint8_t* rx, std::uint32_t, std::uint32_t) {
    Line& l = line(n);
    l.now += sim::Millis(500);  // time passes between polls, so deliveries flow
    l.dispenser->advance_to(l.now);
    const auto request = sim::parse_request(std::span(tx + 2, len - 4));
    if (!request) return 1;
    const auto reply = l.dispenser->handle(*request, l.now);
    if (!reply) return 1;
    const auto frame = sim::reply_frame(reply->address, reply->type, reply->data);
    return testing::StoreUnderCheck(frame, rx, l.check, l.context, n) ? 0 : 1;
  }

 private:
  struct Line {
    std::optional<sim::Dispenser> dispenser;
    sim::Millis now{0};
    zarvo_reply_check check = nullptr;
    void* context = nullptr;
    std::int32_t rx_state = 0;
  };
  Line& line(std::uint32_t number) { return lines_.at(number - 1); }

  std::array<Line, kLines> lines_;
  testing::PortAdapter<SimulatedLines> adapter_{*this};
};

struct Outcome {
  double volume = -1;
  double amount = -1;
  std::uint32_t decimals_param = 0;
  bool ended = false;
};

// One fuelling cycle on one line: price, poll (parameters), preset, poll to the end.
Outcome fuel(zarvo_da30* driver, int line) {
  const zarvo_da30_ops& ops = *driver->ops;
  Outcome out;
  ops.SetPrice(driver, line, 1, 1, 0, 0, 50.0);
  zarvo_poll_result record{};
  ops.PollPump(&record, driver, static_cast<std::uint32_t>(line), 1, 2);
  ops.PresetAmount(driver, line, 1, 1, 0, 100.0);
  for (int poll = 0; poll < 200 && !out.ended; ++poll) {
    ops.PollPump(&record, driver, static_cast<std::uint32_t>(line), 1, 2);
    out.ended = record.bytes[0] == 1;
  }
  ops.GetDelivery(driver, line, 1, &out.volume, &out.amount);
  out.decimals_param = ops.ReadParam(driver, static_cast<std::uint32_t>(line), 1, 40);
  return out;
}

// Each line of each driver object fuels on its own thread; every delivery
// must come out whole.
void fuel_every_line(std::vector<zarvo_da30*> drivers) {
  std::vector<Outcome> outcomes(drivers.size() * kLines);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    threads.emplace_back(
        [&, i] { outcomes[i] = fuel(drivers[i / kLines], static_cast<int>(i % kLines) + 1); });
  }
  for (auto& t : threads) t.join();
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    EXPECT_TRUE(outcomes[i].ended) << "line " << i % kLines + 1;
    EXPECT_EQ(outcomes[i].volume, 2.0) << "line " << i % kLines + 1;
    EXPECT_EQ(outcomes[i].amount, 100.0) << "line " << i % kLines + 1;
    EXPECT_EQ(outcomes[i].decimals_param, 2U) << "line " << i % kLines + 1;
  }
}

TEST(ConcurrentLines, each_line_completes_its_own_delivery_while_the_others_run) {
  testing::TempSettingsDir settings;
  SimulatedLines lines;
  zarvo_da30* driver = GetDA30(0, nullptr, lines.port());
  fuel_every_line({driver});
  zarvo_da30_destroy(driver);
}

// Two objects log into one file from all their lines at once: every line of
// the log whole, one reply logged for each request.
TEST(ConcurrentLines, two_logging_objects_fuel_every_line_and_log_whole_lines) {
  testing::TempSettingsDir settings;
  const std::string path = settings.path() + "/driver.log";
  settings.write_file("[ZarvoLog]\nPath=" + path + "\n");
  SimulatedLines first_lines;
  SimulatedLines second_lines;
  zarvo_da30* first = GetDA30(0, nullptr, first_lines.port());
  zarvo_da30* second = GetDA30(0, nullptr, second_lines.port());
  fuel_every_line({first, second});
  zarvo_da30_destroy(first);
  zarvo_da30_destroy(second);

  std::size_t sent = 0;
  std::size_t received = 0;
  bool dropped = false;  // a slow writer (under a sanitizer) may let the queue fill
  for (const std::string& line : testing::ReadLogLines(path)) {
    ASSERT_TRUE(testing::WellFormedLogLine(line)) << line;
    dropped = dropped || line.find("not logged") != line.npos;
    sent += line.find(" sent [") != line.npos ? 1 : 0;
    received += line.find(" received <") != line.npos ? 1 : 0;
  }
  EXPECT_GT(sent, 2U * kLines * 4);
  if (!dropped) {
    EXPECT_EQ(sent, received);
  }
}

}  // namespace
}  // namespace zarvo
