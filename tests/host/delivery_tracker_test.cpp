// Which acknowledgement releases a delivery, and the gate that journals it
// before the acknowledgement leaves.
#include "host/tools/delivery_tracker.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "host/tools/journal.h"
#include "protocol/wire.h"
#include "tests/support/frames.h"

namespace zarvo::host {
namespace {

using testing::Bytes;

Bytes status_request(std::uint8_t pump) {
  return testing::Frame(pump, wire::kStatusRequest, Bytes{0});
}
Bytes acknowledgement(std::uint8_t pump, std::uint8_t number) {
  return testing::Frame(pump, wire::kAcknowledge, Bytes{0, number});
}
Bytes ended_delivery(std::uint8_t pump, std::uint8_t number) {
  return testing::Frame(pump, wire::kEndedDelivery,
                        testing::DeliveryData(number, '0', "  16.25", "   2.50"));
}

ExchangeRecord sent(const std::vector<std::uint8_t>& frame, std::uint32_t line = 1) {
  ExchangeRecord record;
  record.line = line;
  record.sent = frame;
  return record;
}

TEST(CompletionTracker, each_acknowledged_transaction_is_taken_once) {
  const Bytes ack7 = acknowledgement(2, 7);
  const Bytes ack8 = acknowledgement(2, 8);
  const Bytes status = status_request(2);
  CompletionTracker tracker;
  tracker.observe(sent(status));
  EXPECT_FALSE(tracker.take(1, 2).has_value());
  tracker.observe(sent(ack7));
  EXPECT_FALSE(tracker.take(1, 1).has_value());
  EXPECT_EQ(tracker.take(1, 2), 7U);
  EXPECT_FALSE(tracker.take(1, 2).has_value());
  // A second acknowledgement of 7, after its exchange failed, is the same delivery.
  tracker.observe(sent(ack7));
  EXPECT_FALSE(tracker.take(1, 2).has_value());
  tracker.observe(sent(ack8));
  EXPECT_EQ(tracker.take(1, 2), 8U);
  // Acknowledgements to all pumps and lines beyond the table are ignored.
  tracker.observe(sent(acknowledgement(wire::kEveryPump, 9)));
  tracker.observe(sent(ack8, 41));
  EXPECT_FALSE(tracker.take(41, 2).has_value());
}

TEST(CompletionTracker, only_an_acknowledgement_that_releases_a_delivery_counts) {
  using Frame = Bytes;
  const Frame status2 = status_request(2);
  const Frame ack2_7 = acknowledgement(2, 7);
  const Frame ended2_7 = ended_delivery(2, 7);
  const Frame ended3_9 = ended_delivery(3, 9);
  const Frame totals2 = testing::Frame(2, wire::kTotalsReply, Bytes{0x00, 0x07, ' ', ' '});
  const auto exchanged = [](const Frame& request, const Frame& reply) {
    ExchangeRecord record = sent(request);
    record.received = reply;
    return record;
  };
  CompletionTracker tracker;
  // The totals reply is acknowledged too, but releases no delivery.
  tracker.observe(exchanged(status2, totals2));
  tracker.observe(sent(ack2_7));
  EXPECT_FALSE(tracker.take(1, 2).has_value());
  // Pump 3's late reply taken for pump 2's: the acknowledgement carries pump 2's
  // stored number, not the number of the delivery that ended.
  tracker.observe(exchanged(status2, ended3_9));
  tracker.observe(sent(ack2_7));
  EXPECT_FALSE(tracker.take(1, 2).has_value());
  tracker.observe(exchanged(status2, ended2_7));
  tracker.observe(sent(ack2_7));
  EXPECT_EQ(tracker.take(1, 2), 7U);
}

TEST(DeliveryGate, a_delivery_is_journaled_before_its_release_once_across_restarts) {
  using Frame = Bytes;
  const Frame status2 = status_request(2);
  const Frame ended2_7 = ended_delivery(2, 7);
  const Frame ack2_7 = acknowledgement(2, 7);
  const Frame ended2_8 = ended_delivery(2, 8);
  const Frame ack2_8 = acknowledgement(2, 8);
  const auto path =
      std::filesystem::temp_directory_path() / ("zarvo-gate-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  const auto reading = [](std::uint32_t, std::uint32_t) { return Delivery{2.5, 16.25}; };
  const auto report = [&](DeliveryGate& gate, const Frame& reply, const Frame& ack) {
    ExchangeRecord record = sent(status2);
    record.received = reply;
    gate.observe(record);
    gate.before_send(1, ack);
  };
  Journal journal(path.string());
  {
    DeliveryGate gate(&journal, reading);
    gate.before_send(1, status2);
    report(gate, ended2_7, ack2_7);
    EXPECT_EQ(journal.count(), 1);
    gate.before_send(1, ack2_7);  // repeated after a failed exchange
    EXPECT_EQ(gate.take_written().size(), 1U);
  }
  // Killed before the acknowledgement left: the pump reports 7 again.
  DeliveryGate restarted(&journal, reading);
  report(restarted, ended2_7, ack2_7);
  EXPECT_EQ(journal.count(), 1);
  report(restarted, ended2_8, ack2_8);
  const auto entries = journal.entries_after(0);
  ASSERT_EQ(entries.size(), 2U);
  EXPECT_EQ(entries[1].transaction, 8U);
  EXPECT_DOUBLE_EQ(entries[1].amount, 16.25);
  // A second monitor on its own connection: the file, not its memory, knows 8.
  Journal other(path.string());
  DeliveryGate second(&other, reading);
  report(second, ended2_8, ack2_8);
  EXPECT_EQ(journal.count(), 2);
  std::filesystem::remove(path);
  // A journal that cannot be written keeps the acknowledgement off the line.
  DeliveryGate failing(nullptr, [](std::uint32_t, std::uint32_t) -> Delivery {
    throw std::runtime_error("cannot write the journal");
  });
  ExchangeRecord record = sent(status2);
  record.received = ended2_7;
  failing.observe(record);
  EXPECT_THROW(failing.before_send(1, ack2_7), std::runtime_error);
}

}  // namespace
}  // namespace zarvo::host
