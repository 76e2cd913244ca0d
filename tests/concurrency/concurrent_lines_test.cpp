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

TEST(ConcurrentLines, each_line_completes_its_own_delivery_while_the_others_run) {
  testing::TempSettingsDir settings;
  SimulatedLines lines;
  zarvo_da30* driver = GetDA30(0, nullptr, lines.port());
  std::array<Outcome, kLines> outcomes;
  std::vector<std::thread> threads;
  for (int i = 0; i < kLines; ++i) {
    threads.emplace_back([&, i] { outcomes[i] = fuel(driver, i + 1); });
  }
  for (auto& t : threads) t.join();
  for (int i = 0; i < kLines; ++i) {
    EXPECT_TRUE(outcomes[i].ended) << "line " << i + 1;
    EXPECT_EQ(outcomes[i].volume, 2.0) << "line " << i + 1;
    EXPECT_EQ(outcomes[i].amount, 100.0) << "line " << i + 1;
    EXPECT_EQ(outcomes[i].decimals_param, 2U) << "line " << i + 1;
  }
  zarvo_da30_destroy(driver);
}

}  // namespace
}  // namespace zarvo
