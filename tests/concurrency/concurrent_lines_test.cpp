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
  zarvo_port* port() { return &handle_.port; }

 private:
  struct Line {
    std::optional<sim::Dispenser> dispenser;
    sim::Millis now{0};
    zarvo_reply_check check = nullptr;
    void* context = nullptr;
    std::int32_t rx_state = 0;
  };
  struct Handle {
    zarvo_port port;
    SimulatedLines* self;
  };

  static Line& line(zarvo_port* p, std::uint32_t number) {
    return reinterpret_cast<Handle*>(p)->self->lines_.at(number - 1);
  }
  static void ZARVO_STDCALL unused(zarvo_port*) {}
  static std::int32_t ZARVO_STDCALL line_result(zarvo_port*, std::uint32_t) { return 1; }
  static void ZARVO_STDCALL reply_code(zarvo_port*, std::uint32_t, std::uint32_t) {}
  static void ZARVO_STDCALL set_rx(zarvo_port* p, std::uint32_t n, std::uint32_t s) {
    line(p, n).rx_state = static_cast<std::int32_t>(s);
  }
  static std::int32_t ZARVO_STDCALL get_rx(zarvo_port* p, std::uint32_t n) {
    return line(p, n).rx_state;
  }
  static std::int32_t ZARVO_STDCALL configure(zarvo_port*, std::uint32_t, std::uint32_t,
                                              std::uint32_t) {
    return 0;
  }
  static void ZARVO_STDCALL set_check(zarvo_port* p, std::uint32_t n, zarvo_reply_check c,
                                      void* x) {
    line(p, n).check = c;
    line(p, n).context = x;
  }
  static std::int32_t ZARVO_STDCALL send(zarvo_port* p, std::uint32_t n, const std::uint8_t* tx,
                                         std::uint32_t len, std::uint8_t* rx, std::uint32_t,
                                         std::uint32_t) {
    Line& l = line(p, n);
    l.now += sim::Millis(500);  // time passes between polls, so deliveries flow
    l.dispenser->advance_to(l.now);
    const auto request = sim::parse_request(std::span(tx + 2, len - 4));
    if (!request) return 1;
    const auto reply = l.dispenser->handle(*request, l.now);
    if (!reply) return 1;
    const auto frame = sim::reply_frame(reply->address, reply->type, reply->data);
    for (std::size_t i = 0; i < frame.size(); ++i) {
      rx[i] = frame[i];
      const auto stored = static_cast<std::uint8_t>(i);
      if ((l.check(l.context, n, rx, 0, &stored, 0) & 0xFF) != 0) return 0;
    }
    return 1;
  }
  static const zarvo_port_ops kOps;

  Handle handle_{{&kOps}, this};
  std::array<Line, kLines> lines_;
};

const zarvo_port_ops SimulatedLines::kOps = [] {
  zarvo_port_ops ops{};
  ops.slot0 = &unused;
  for (auto& slot : ops.slot5_to_15) slot = &unused;
  ops.slot18 = &unused;
  ops.GetLineResult = &line_result;
  ops.SetReplyCode = &reply_code;
  ops.SetRxState = &set_rx;
  ops.GetRxState = &get_rx;
  ops.SendAndReceive = &send;
  ops.ConfigureLine = &configure;
  ops.SetReplyCheck = &set_check;
  return ops;
}();

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

TEST(ConcurrentLines, EachLineCompletesItsOwnDeliveryWhileTheOthersRun) {
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
