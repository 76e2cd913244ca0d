// The reference host's own parts: JSON, pump state labels, the progress bar,
// the journal, completion tracking, menu items and text conversion.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <limits>
#include <sstream>

#include "codepage/cp1251.h"
#include "host/output/json.h"
#include "host/output/output.h"
#include "host/output/progress_bar.h"
#include "host/output/pump_state.h"
#include "host/output/text.h"
#include "host/session/menu.h"
#include "host/tools/delivery_tracker.h"
#include "host/tools/journal.h"
#include "host/tools/journal_list.h"
#include "protocol/wire.h"
#include "tests/support/frames.h"

namespace zarvo::host {
namespace {

TEST(Json, numbers_keep_their_shortest_form_and_texts_are_escaped) {
  const Json value{{"volume", 2.0},      {"amount", 0.1},
                   {"state", 192},       {"label", "a \"quoted\"\nline"},
                   {"missing", nullptr}, {"list", {true, false, 1e21, 18446744073709551615U}}};
  EXPECT_EQ(json_text(value),
            R"({"volume":2,"amount":0.1,"state":192,"label":"a \"quoted\"\nline",)"
            R"("missing":null,"list":[true,false,1e+21,18446744073709551615]})");
  EXPECT_EQ(json_text(Json(std::numeric_limits<double>::quiet_NaN())), "null");
  EXPECT_EQ(json_text(Json("bad \xFF byte")), "\"bad \xEF\xBF\xBD byte\"");
}

TEST(PumpState, the_shared_codes_have_their_labels) {
  EXPECT_EQ(pump_state_label(192), "idle");
  EXPECT_EQ(pump_state_label(220), "nozzle 4 authorized");
  EXPECT_EQ(pump_state_label(228), "nozzle 4 lifted");
  EXPECT_EQ(pump_state_label(238), "nozzle 6 lifted and authorized");
  EXPECT_EQ(pump_state_label(255), "dispenser fault");
  EXPECT_EQ(pump_state_label(77), "code 77");
  EXPECT_TRUE(delivery_active(217));
  EXPECT_TRUE(delivery_active(233));
  EXPECT_FALSE(delivery_active(192));
  EXPECT_TRUE(transaction_ended(1));
  EXPECT_TRUE(transaction_ended(216));
}

TEST(ProgressBar, the_bar_fills_with_the_fraction_and_stays_within_its_width) {
  EXPECT_EQ(progress_text(0.5, 10), "[#####.....]  50%");
  EXPECT_EQ(progress_text(1.7, 10), "[##########] 100%");
  EXPECT_EQ(progress_text(-1, 4), "[....]   0%");
}

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

TEST(Journal, deliveries_survive_reopening_the_file) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zarvo-journal-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  {
    Journal journal(path.string());
    journal.record({1, 2, 7, 2.0, 100.0});
    journal.record({1, 3, 8, 1.5, 60.0});
  }
  Journal reopened(path.string());
  EXPECT_EQ(reopened.count(), 2);
  const Journal listing(path.string(), Journal::Access::kRead);
  const auto rows = listing.rows_since("");
  ASSERT_EQ(rows.size(), 2U);
  EXPECT_EQ(rows[1].entry.transaction, 8U);
  EXPECT_THAT(rows[1].recorded_at, ::testing::MatchesRegex("20[0-9-]+T[0-9:.]+Z"));
  EXPECT_EQ(listing.rows_since("2999-01-01").size(), 0U);
  EXPECT_EQ(listing.rows_since("2000-01-01 00:00+03:00").size(), 2U);
  std::filesystem::remove(path);
  EXPECT_THROW(Journal("/nonexistent/dir/journal.db"), std::runtime_error);
  // Reading neither creates a missing file nor takes another file for a journal.
  EXPECT_THROW(Journal(path.string(), Journal::Access::kRead), std::runtime_error);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_THROW(Journal("/etc/hostname", Journal::Access::kRead), std::runtime_error);
}

TEST(Journal, a_journal_of_the_first_version_is_brought_up_to_date_without_loss) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("zarvo-old-journal-" + std::to_string(::getpid()) + ".db");
  std::filesystem::remove(path);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db,
               "CREATE TABLE deliveries (id INTEGER PRIMARY KEY, recorded_at TEXT NOT NULL DEFAULT "
               "(strftime('%Y-%m-%dT%H:%M:%fZ', 'now')), line INTEGER NOT NULL, pump INTEGER NOT "
               "NULL, transaction_no INTEGER NOT NULL, volume REAL NOT NULL, amount REAL NOT NULL);"
               "INSERT INTO deliveries (line, pump, transaction_no, volume, amount) VALUES"
               " (1, 2, 7, 2.5, 16.25), (1, 2, 7, 2.5, 16.25), (1, 3, 1, 1.0, 6.5);",
               nullptr, nullptr, nullptr);
  sqlite3_close(db);
  // Listed as it is, then taken over for writing: every row stays.
  EXPECT_EQ(Journal(path.string(), Journal::Access::kRead).rows_since("").size(), 3U);
  Journal journal(path.string());
  EXPECT_EQ(journal.count(), 3);
  EXPECT_FALSE(journal.record_once({1, 2, 7, 2.5, 16.25}));
  EXPECT_TRUE(journal.record_once({1, 2, 8, 2.5, 16.25}));
  EXPECT_FALSE(journal.record_once({1, 2, 8, 2.5, 16.25}));
  EXPECT_FALSE(journal.record_once({1, 3, 1, 1.0, 6.5}));
  std::filesystem::remove(path);
}

TEST(Journal, csv_fields_are_quoted_only_when_they_must_be) {
  EXPECT_EQ(csv_field("2026-12-09T01:15:23.123Z"), "2026-12-09T01:15:23.123Z");
  EXPECT_EQ(csv_field("a,b"), "\"a,b\"");
  EXPECT_EQ(csv_field("say \"hi\"\n"), "\"say \"\"hi\"\"\n\"");
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

TEST(MenuItem, items_the_driver_creates_land_under_their_parent_at_the_index) {
  MenuItem root;
  MenuItem& file = root.add_child(-1, "&File");
  zarvo_menu_item* handle = root.handle();
  EXPECT_EQ(handle->ops->GetCount(handle), 1);
  zarvo_menu_item* first = MenuItem::new_item()(handle, -1);
  zarvo_menu_item* inserted = MenuItem::new_item()(handle, 0);
  EXPECT_EQ(handle->ops->GetCount(handle), 3);
  EXPECT_EQ(handle->ops->GetItem(handle, 0), inserted);
  EXPECT_EQ(handle->ops->GetItem(handle, 1), file.handle());
  EXPECT_EQ(handle->ops->GetItem(handle, 2), first);
  EXPECT_EQ(handle->ops->GetItem(handle, 3), nullptr);
  EXPECT_EQ(handle->ops->GetItem(handle, -1), nullptr);
  first->ops->SetCaption(first, "entry");
  EXPECT_STREQ(first->ops->GetCaption(first), "entry");
}

TEST(MenuItem, a_click_runs_the_handler_the_driver_set_with_its_context) {
  MenuItem item;
  EXPECT_FALSE(item.click());
  int clicks = 0;
  item.handle()->ops->SetOnClick(
      item.handle(), [](void* context, zarvo_menu_item*) { ++*static_cast<int*>(context); },
      &clicks);
  EXPECT_TRUE(item.click());
  EXPECT_EQ(clicks, 1);
  item.handle()->ops->SetOnClick(item.handle(), nullptr, &clicks);
  EXPECT_FALSE(item.click());
}

TEST(Text, driver_messages_go_out_in_the_terminals_set_and_as_utf8_in_json) {
  const std::string message = utf8_from_cp1251(cp1251("Ошибка задания цены").view());
  EXPECT_EQ(message, "Ошибка задания цены");
  EXPECT_EQ(to_charset("Can't GetSost", "ASCII"), "Can't GetSost");
  // Letters the target set lacks become placeholders instead of vanishing.
  EXPECT_EQ(to_charset("ТРК 1", "ASCII"), "??? 1");

  std::ostringstream text, json, err;
  Output as_text(false, text, err, "KOI8-R");
  Output as_json(true, json, err, "KOI8-R");
  for (Output* out : {&as_text, &as_json}) out->result(Json{{"error", message}}, message);
  as_text.error("zarvo: " + message);
  EXPECT_EQ(text.str(), "\xEF\xDB\xC9\xC2\xCB\xC1 \xDA\xC1\xC4\xC1\xCE\xC9\xD1 \xC3\xC5\xCE\xD9\n");
  EXPECT_EQ(err.str(), "zarvo: " + text.str());
  EXPECT_EQ(json.str(), "{\"error\":\"Ошибка задания цены\"}\n");
}

}  // namespace
}  // namespace zarvo::host
