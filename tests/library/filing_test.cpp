// Where replies are filed, seen as a host sees it: through the operation table,
// on a port that hands the driver every reply its check accepts, whichever
// pump sent it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/table_host.h"

namespace zarvo {
namespace {

using testing::Bytes;
using testing::HostCall;
using testing::ReplyFrame;
using Host = testing::TableHost;

// 500.00 for 2.50 l, transaction 0x0777, as the dispenser reports it until acknowledged.
Bytes ended_delivery(std::uint8_t pump) {
  return ReplyFrame(pump, 'a', testing::DeliveryData(0x0777, '0', " 500.00", "   2.50"));
}

Bytes totals(std::uint8_t pump, std::string_view volume13, std::string_view amount13) {
  Bytes data = {0x00};
  for (const char c : volume13) data.push_back(static_cast<std::uint8_t>(c));
  for (const char c : amount13) data.push_back(static_cast<std::uint8_t>(c));
  return ReplyFrame(pump, 'B', data);
}

Bytes ack(std::uint8_t pump, std::uint16_t txn) {
  return {pump, 0x03, 'L', static_cast<std::uint8_t>(txn >> 8), static_cast<std::uint8_t>(txn)};
}

TEST(ReplyFiling, a_reply_from_another_pump_than_the_one_asked_fails_and_changes_nothing) {
  Host host;
  // What earlier exchanges left: pump 1's state 229, pump 2's totalizers.
  host.port.reply(ReplyFrame(1, 'Q', "5"));
  host.ops.StopPump(host.object, 1, 1, 1);
  host.port.reply(totals(2, "         10.5", "        525.0"));
  double first = -1;
  double second = -1;
  host.ops.ReadTotals(host.object, 1, 2, 1, &first, &second, 0, 0);
  ASSERT_EQ(first, 10.5);
  first = second = -1;

  const struct {
    const char* what;
    Bytes reply;
    HostCall call;
  } cases[] = {
      {"pump 1's state answered by pump 3's status", ReplyFrame(3, 'J', "000300"),
       [](auto* o, auto& ops) { ops.ReadPumpState(o, 1, 1); }},
      {"pump 1's state answered by pump 3's ended delivery", ended_delivery(3),
       [](auto* o, auto& ops) { ops.ReadPumpState(o, 1, 1); }},
      {"pump 2's totals answered by pump 6's", totals(6, "         99.0", "       4950.0"),
       [&](auto* o, auto& ops) { ops.ReadTotals(o, 1, 2, 2, &first, &second, 0, 0); }},
      {"stopping pump 1 answered by pump 2", ReplyFrame(2, 'Q', "0"),
       [](auto* o, auto& ops) { ops.StopPump(o, 1, 1, 1); }},
      {"pump 5's parameter answered by pump 6's", ReplyFrame(6, '3', "4002"),
       [](auto* o, auto& ops) { ops.ReadParam(o, 1, 5, 40); }},
      {"a parameter write to pump 4 answered by pump 3", ReplyFrame(3, 'Q', "0"),
       [](auto* o, auto& ops) { ops.WriteParam(o, 1, 4, 40, 2); }},
  };
  for (const auto& c : cases) {
    const std::string before = testing::Snapshot(host.tables());
    const std::size_t frames = host.port.frames.size();
    host.port.reply(c.reply);
    EXPECT_THROW(c.call(host.object, host.ops), ESerialIO) << c.what;
    EXPECT_EQ(testing::Snapshot(host.tables()), before) << c.what;
    EXPECT_EQ(host.port.frames.size(), frames + 1) << c.what << ": an acknowledgement went out";
  }
  EXPECT_EQ(first, -1);
  EXPECT_EQ(second, -1);
}

// The totalizers are one pair a pump: only a totals reply to this very request
// answers a request for a nozzle, whatever else the pump sends and the port takes.
TEST(ReplyFiling, a_totals_read_answered_by_no_totals_hands_out_nothing) {
  Host host;
  host.port.reply(totals(2, "         10.5", "        525.0"));
  double first = -1;
  double second = -1;
  host.ops.ReadTotals(host.object, 1, 2, 1, &first, &second, 0, 0);
  ASSERT_EQ(std::make_pair(first, second), std::make_pair(10.5, 525.0));
  for (const Bytes& reply :
       {ReplyFrame(2, 'J', "000000"), ReplyFrame(2, 'Q', "0"), ReplyFrame(2, '.', "")}) {
    first = second = -1;
    host.port.reply(reply);
    host.ops.ReadTotals(host.object, 1, 2, 2, &first, &second, 0, 0);
    EXPECT_EQ(std::make_pair(first, second), std::make_pair(-1.0, -1.0)) << reply[4];
  }
}

// The dispenser reports an ended delivery until it is acknowledged; whatever
// exchange it answers, the host can read it once it is released.
TEST(ReplyFiling, an_ended_delivery_is_released_only_once_filed_under_the_pump_that_reported_it) {
  const struct {
    const char* what;
    std::uint8_t reporting;
    HostCall call;
  } cases[] = {
      {"a parameter write to pump 4", 4,
       [](auto* o, auto& ops) { ops.WriteParam(o, 1, 4, 40, 2); }},
      {"a parameter write to every pump", 3,
       [](auto* o, auto& ops) { ops.WriteParam(o, 1, 0, 40, 2); }},
      {"stopping every pump", 2, [](auto* o, auto& ops) { ops.StopAllPumps(o, 1); }},
      {"stopping pump 0", 2, [](auto* o, auto& ops) { ops.StopPump(o, 1, 0, 1); }},
      {"a parameter read of pump 5", 5, [](auto* o, auto& ops) { ops.ReadParam(o, 1, 5, 40); }},
      {"a state request", 7, [](auto* o, auto& ops) { ops.ReadPumpState(o, 1, 7); }},
  };
  for (const auto& c : cases) {
    Host host;
    const std::uint8_t pump = c.reporting;
    host.port.reply(ended_delivery(pump));
    host.call(c.call);
    if (host.port.acknowledgements().empty()) {
      host.port.reply(ended_delivery(pump));
      EXPECT_EQ(host.ops.ReadPumpState(host.object, 1, pump), 1U) << c.what;
    }
    EXPECT_EQ(host.port.acknowledgements(), std::vector<Bytes>{ack(pump, 0x0777)}) << c.what;
    EXPECT_EQ(host.delivery(pump), std::make_pair(2.5, 500.0)) << c.what;
    EXPECT_EQ(host.delivery(1), std::make_pair(0.0, 0.0)) << c.what;
  }
}

TEST(ReplyFiling, a_state_is_filed_under_the_pump_that_reported_it_or_nowhere) {
  const struct {
    const char* what;
    Bytes reply;
    HostCall call;
    std::uint8_t state;  // of the reporting pump afterwards
    std::vector<Bytes> acks;
  } cases[] = {
      {"a parameter read answered by a command answer",
       ReplyFrame(5, 'Q', "5"),
       [](auto* o, auto& ops) { ops.ReadParam(o, 1, 5, 40); },
       229,
       {}},
      {"a parameter read answered by a status",
       ReplyFrame(5, 'J', "000300"),
       [](auto* o, auto& ops) { ops.ReadParam(o, 1, 5, 40); },
       228,
       {}},
      {"a parameter read answered by an ended status",
       ReplyFrame(5, 'J', "A00000"),
       [](auto* o, auto& ops) { ops.ReadParam(o, 1, 5, 40); },
       216,
       {ack(5, 0)}},
      // Acknowledged here the end would never reach the pump's row: left to the next poll.
      {"a parameter write answered by an ended status",
       ReplyFrame(5, 'J', "A00000"),
       [](auto* o, auto& ops) { ops.WriteParam(o, 1, 5, 40, 2); },
       77,
       {}},
  };
  for (const auto& c : cases) {
    Host host;
    host.state(1) = 77;
    host.state(5) = 77;
    host.port.reply(c.reply);
    host.call(c.call);
    EXPECT_EQ(host.state(5), c.state) << c.what;
    EXPECT_EQ(host.state(1), 77) << c.what;
    EXPECT_EQ(host.port.acknowledgements(), c.acks) << c.what;
  }
}

}  // namespace
}  // namespace zarvo
