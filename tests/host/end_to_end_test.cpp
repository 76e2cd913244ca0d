// The reference host's session over pseudo-terminals: the loaded driver
// library, the real serial port object and the simulator.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "codepage/cp1251.h"
#include "host/commands/cli.h"
#include "host/output/pump_state.h"
#include "host/session/console.h"
#include "host/session/session.h"
#include "host/tools/journal.h"
#include "host/tools/monitor.h"
#include "pty_peer.h"
#include "sim/pty_simulator.h"
#include "tests/support/child_exit.h"
#include "tests/support/program.h"
#include "tests/support/settings_dir.h"

namespace zarvo::host {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Request letters sit at frame position 4.
char letter_of(const Bytes& frame) {
  return frame.size() > 4 ? static_cast<char>(frame[4]) : 0;
}

sim::Options fast_line() {
  sim::Options options;
  options.link.pacing = false;
  options.model.flow_lpm = 600;
  options.model.reaction = 5ms;
  options.link.turnaround = 1ms;
  return options;
}

class EndToEnd : public ::testing::Test {
 protected:
  ~EndToEnd() override {
    session_.reset();
    simulator_.reset();
  }

  void start(const sim::Options& options = fast_line(), PortTimeouts timeouts = {1000ms, 200ms}) {
    simulator_ = std::make_unique<sim::PtySimulator>(options);
    start_on(simulator_->device_path(), timeouts);
  }
  // A session with line 1 on the device.
  void start_on(const std::string& device, PortTimeouts timeouts = {100ms, 50ms}) {
    SessionOptions session_options;
    session_options.library = ZARVO_TEST_LIBRARY;
    session_options.lines = {{1, device}};
    session_options.timeouts = timeouts;
    session_ = std::make_unique<Session>(session_options, diagnostics_);
    session_->set_listener([this](const ExchangeRecord& record) {
      requests_.emplace_back(record.sent.begin(), record.sent.end());
      skipped_ += record.skipped;
    });
  }

  const Driver& driver() { return session_->driver(); }

  std::size_t count_requests(char letter) const {
    return static_cast<std::size_t>(std::ranges::count_if(
        requests_, [letter](const Bytes& frame) { return letter_of(frame) == letter; }));
  }

  // Polls until the pump reports the end of its delivery.
  std::uint8_t follow_delivery(std::uint32_t pump) {
    bool started = false;
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
      const std::uint8_t state = driver().poll(1, pump, 0).state;
      if (transaction_ended(state) || (state == 192 && started)) return state;
      started = started || delivery_active(state);
      std::this_thread::sleep_for(5ms);
    }
    ADD_FAILURE() << "the delivery did not end";
    return 0;
  }

  zarvo::testing::TempSettingsDir settings_;
  std::ostringstream diagnostics_;
  std::unique_ptr<sim::PtySimulator> simulator_;
  std::unique_ptr<Session> session_;
  std::vector<Bytes> requests_;
  std::size_t skipped_ = 0;
};

TEST_F(EndToEnd, a_delivery_by_amount_stops_at_exactly_its_amount) {
  start();
  driver().set_price(1, 1, 1, 50.0);
  driver().preset_amount(1, 1, 1, 100.0);
  follow_delivery(1);
  const Delivery delivery = driver().delivery(1, 1);
  EXPECT_DOUBLE_EQ(delivery.volume, 2.0);
  EXPECT_DOUBLE_EQ(delivery.amount, 100.0);
  const auto totals = driver().totals(1, 1, 1);
  ASSERT_TRUE(totals.has_value());
  EXPECT_DOUBLE_EQ(totals->volume, 2.0);
  EXPECT_DOUBLE_EQ(totals->amount, 100.0);
  // The ended transaction was released with its number.
  const auto record = simulator_->simulator().transactions();
  ASSERT_EQ(record.size(), 1U);
  EXPECT_TRUE(record[0].acknowledged);
}

TEST_F(EndToEnd, a_delivery_by_volume_on_a_second_nozzle_goes_out_as_the_multi_nozzle_start) {
  start();
  driver().set_price(1, 2, 2, 40.0);
  driver().preset_volume(1, 2, 2, 1.5);
  ASSERT_EQ(count_requests('9'), 1U);
  follow_delivery(2);
  const Delivery delivery = driver().delivery(1, 2);
  EXPECT_DOUBLE_EQ(delivery.volume, 1.5);
  EXPECT_DOUBLE_EQ(delivery.amount, 60.0);
  const auto record = simulator_->simulator().transactions();
  ASSERT_EQ(record.size(), 1U);
  EXPECT_EQ(record[0].nozzle, 2);
  EXPECT_EQ(record[0].volume_cl, 150);
}

TEST_F(EndToEnd, with_the_mono_product_setting_a_delivery_goes_out_as_the_mono_product_start) {
  settings_.write_file("[Zarvo]\r\nSDec=2\r\nPDec=2\r\nMPTRK=1\r\n");
  start();
  driver().set_price(1, 1, 1, 50.0);
  driver().preset_amount(1, 1, 1, 100.0);
  EXPECT_EQ(count_requests('1'), 1U);
  EXPECT_EQ(count_requests('9'), 0U);
  follow_delivery(1);
  const Delivery delivery = driver().delivery(1, 1);
  EXPECT_DOUBLE_EQ(delivery.volume, 2.0);
  EXPECT_DOUBLE_EQ(delivery.amount, 100.0);
}

TEST_F(EndToEnd, a_stop_in_the_middle_of_a_delivery_halts_it_short_of_its_preset) {
  sim::Options options = fast_line();
  options.model.flow_lpm = 60;
  start(options);
  driver().set_price(1, 3, 1, 45.5);
  driver().preset_volume(1, 3, 1, 20.0);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  while (driver().delivery(1, 3).volume == 0 && std::chrono::steady_clock::now() < deadline) {
    driver().poll(1, 3, 0);
  }
  driver().stop(1, 3);
  const std::uint8_t after_stop = driver().poll(1, 3, 0).state;
  // Stopped (218), or already ended once the customer hung up.
  EXPECT_TRUE(after_stop == 218 || transaction_ended(after_stop)) << int(after_stop);
  if (!transaction_ended(after_stop)) follow_delivery(3);
  const double stopped_at = driver().delivery(1, 3).volume;
  EXPECT_GT(stopped_at, 0.0);
  EXPECT_LT(stopped_at, 20.0);
  const auto record = simulator_->simulator().transactions();
  ASSERT_EQ(record.size(), 1U);
  EXPECT_EQ(record[0].volume_cl, std::llround(stopped_at * 100));
}

TEST_F(EndToEnd, parameters_are_programmed_on_the_first_poll_only) {
  start();
  driver().poll(1, 1, 0);
  EXPECT_EQ(count_requests('2'), 3U);
  driver().poll(1, 1, 0);
  EXPECT_EQ(count_requests('2'), 3U);
  EXPECT_EQ(count_requests('J'), 2U);
  // The dispenser now holds the decimals the driver uses.
  EXPECT_EQ(driver().read_param(1, 1, 40), 2);
  EXPECT_EQ(driver().read_param(1, 1, 41), 2);
}

TEST_F(EndToEnd, a_parameter_written_to_the_simulator_reads_back) {
  start();
  driver().write_param(1, 4, 7, 0x1F);
  EXPECT_EQ(driver().read_param(1, 4, 7), 31);
}

TEST_F(EndToEnd, a_silent_dispenser_gives_the_commands_own_message) {
  sim::Options options = fast_line();
  options.faults.silent = 1.0;
  options.faults.silent_for = 60s;
  start(options, {60ms, 20ms});
  try {
    driver().set_price(1, 1, 1, 51.0);
    FAIL() << "a price went out to a silent dispenser";
  } catch (const zarvo::ESerialIO& e) {
    EXPECT_EQ(std::string(e.what()), cp1251("Ошибка задания цены").str());
  }
  EXPECT_EQ(session_->port().GetLineResult(1), static_cast<std::int32_t>(PortResult::kTimeout));
  EXPECT_THAT(session_->last_failure(), ::testing::HasSubstr("no reply"));
}

TEST_F(EndToEnd, a_corrupted_reply_never_reaches_the_tables) {
  testing::PtyPeer peer;
  const auto spoilt = [](Bytes frame) {
    frame.back() ^= 0xFF;
    return frame;
  };
  for (int i = 0; i < 3; ++i) peer.answer(testing::reply_frame(1, 'Q', "0"));
  // The dispenser starts the delivery, but every reply it sends is spoilt.
  peer.answer(spoilt(testing::reply_frame(1, 'Q', "0")));
  for (int i = 0; i < 5; ++i) {
    peer.answer(spoilt(testing::reply_frame(1, 'R', std::string{'\0', 1} + "110  12.00   0.20")));
  }
  start_on(peer.device());
  EXPECT_THROW(driver().preset_volume(1, 1, 1, 10.0), zarvo::ESerialIO);
  for (int i = 0; i < 5; ++i) EXPECT_THROW(driver().poll(1, 1, 0), zarvo::ESerialIO);
  const Delivery delivery = driver().delivery(1, 1);
  EXPECT_EQ(delivery.volume, 0.0);
  EXPECT_EQ(delivery.amount, 0.0);
}

TEST_F(EndToEnd, noise_before_the_replies_is_skipped) {
  sim::Options options = fast_line();
  options.faults.noise = 1.0;
  start(options);
  EXPECT_EQ(driver().poll(1, 1, 0).state, 192);
  EXPECT_EQ(driver().read_param(1, 1, 40), 2);
  EXPECT_GT(skipped_, 0U);
}

TEST_F(EndToEnd, the_monitor_journals_each_completed_delivery_once) {
  start();
  const auto journal_path = std::filesystem::path(settings_.path()) / "journal.db";
  driver().set_price(1, 2, 1, 50.0);
  driver().preset_amount(1, 2, 1, 25.0);
  std::ostringstream results, notes;
  Output out(true, results, notes);
  MonitorOptions options;
  options.pumps = 2;
  options.interval_ms = 10;
  options.cycles = 30;
  options.journal = journal_path.string();
  monitor(*session_, out, options);
  options.cycles = 5;
  monitor(*session_, out, options);
  EXPECT_EQ(Journal(journal_path.string()).count(), 1);
  EXPECT_THAT(results.str(),
              ::testing::HasSubstr(R"("event":"delivery","line":1,"pump":2,"transaction":1,)"
                                   R"("volume":0.5,"amount":25})"));
}

TEST_F(EndToEnd, an_ended_delivery_reported_again_after_a_lost_answer_is_journaled_once) {
  testing::PtyPeer peer;
  const auto accepted = [] { return testing::reply_frame(1, 'Q', "0"); };
  const auto ended = [](char number) {
    return testing::reply_frame(1, 'a', std::string{'\0', number} + "010  50.00   2.00");
  };
  // The first poll programs three parameters, then asks for the state.
  for (int i = 0; i < 3; ++i) peer.answer(accepted());
  peer.answer(ended(7));
  peer.answer({});  // the acknowledgement's answer is lost: the pump reports 7 again
  peer.answer(ended(7));
  peer.answer(accepted());
  // The next delivery has the same readings, and is a delivery of its own.
  peer.answer(ended(8));
  peer.answer(accepted());
  start_on(peer.device());
  const auto journal_path = std::filesystem::path(settings_.path()) / "journal.db";
  std::ostringstream results, notes;
  Output out(true, results, notes);
  MonitorOptions monitoring;
  monitoring.pumps = 1;
  monitoring.interval_ms = 0;
  monitoring.cycles = 3;
  monitoring.journal = journal_path.string();
  monitor(*session_, out, monitoring);
  ASSERT_EQ(peer.requests().size(), 9U);
  EXPECT_EQ(letter_of(peer.requests()[4]), 'L');
  EXPECT_EQ(letter_of(peer.requests()[6]), 'L');
  const auto entries = Journal(journal_path.string()).entries_after(0);
  ASSERT_EQ(entries.size(), 2U);
  EXPECT_EQ(entries[0].transaction, 7U);
  EXPECT_EQ(entries[1].transaction, 8U);
  for (const JournalEntry& entry : entries) {
    EXPECT_DOUBLE_EQ(entry.volume, 2.0);
    EXPECT_DOUBLE_EQ(entry.amount, 50.0);
  }
}

TEST_F(EndToEnd, a_monitor_restarted_after_a_lost_acknowledgement_answer_journals_no_repeat) {
  const auto accepted = [] { return testing::reply_frame(1, 'Q', "0"); };
  const auto ended = [] {
    return testing::reply_frame(1, 'a', std::string{'\0', 7} + "010  50.00   2.00");
  };
  const auto journal_path = std::filesystem::path(settings_.path()) / "journal.db";
  // Each run: a new session, whose first poll programs three parameters.
  const auto run = [&](testing::PtyPeer& peer, Bytes acknowledged) {
    for (int i = 0; i < 3; ++i) peer.answer(accepted());
    peer.answer(ended());
    peer.answer(std::move(acknowledged));
    start_on(peer.device());
    std::ostringstream results, notes;
    Output out(true, results, notes);
    MonitorOptions monitoring;
    monitoring.pumps = 1;
    monitoring.interval_ms = 0;
    monitoring.cycles = 1;
    monitoring.journal = journal_path.string();
    monitor(*session_, out, monitoring);
    session_.reset();
    return peer.requests();
  };
  testing::PtyPeer first;  // the acknowledgement's answer is lost; the monitor stops
  const auto first_requests = run(first, {});
  ASSERT_EQ(first_requests.size(), 5U);
  EXPECT_EQ(letter_of(first_requests[4]), 'L');
  testing::PtyPeer second;  // the pump reports delivery 7 again
  const auto second_requests = run(second, accepted());
  ASSERT_EQ(second_requests.size(), 5U);
  EXPECT_EQ(letter_of(second_requests[4]), 'L');
  EXPECT_EQ(Journal(journal_path.string()).count(), 1);
}

TEST_F(EndToEnd, a_dispenser_that_numbers_afresh_has_its_first_sale_journaled) {
  const auto journal_path = std::filesystem::path(settings_.path()) / "journal.db";
  MonitorOptions monitoring;
  monitoring.pumps = 1;
  monitoring.interval_ms = 10;
  monitoring.cycles = 50;
  monitoring.journal = journal_path.string();
  // Each simulator is a dispenser that starts afresh: its first sale is transaction 1.
  for (const double litres : {1.0, 2.0}) {
    start();
    driver().preset_volume(1, 1, 1, litres);
    std::ostringstream results, notes;
    Output out(true, results, notes);
    monitor(*session_, out, monitoring);
    EXPECT_TRUE(simulator_->simulator().transactions().at(0).acknowledged);
  }
  const auto entries = Journal(journal_path.string()).entries_after(0);
  ASSERT_EQ(entries.size(), 2U);
  EXPECT_EQ(entries[1].transaction, 1U);
  EXPECT_DOUBLE_EQ(entries[1].volume, 2.0);
}

TEST_F(EndToEnd, the_monitor_waits_for_a_line_that_comes_up_late_or_hangs_up_and_returns) {
  // The line is a link, as a device's stable name is: missing at first, then
  // a simulator's line, gone with it, then another's.
  const auto link = std::filesystem::path(settings_.path()) / "line";
  SessionOptions options;
  options.library = ZARVO_TEST_LIBRARY;
  options.lines = {{1, link.string()}};
  options.timeouts = {50ms, 20ms};
  session_ = std::make_unique<Session>(options, diagnostics_);
  sim::Options dispensers = fast_line();
  dispensers.model.pumps = 32;  // every address answers: the search takes no timeouts
  std::unique_ptr<sim::PtySimulator> first, second;
  // The search and a whole sweep with the parameters' first writes take 160
  // requests: beyond those, the monitor has seen the line up.
  const auto polled = [](sim::PtySimulator& line) {
    constexpr std::uint64_t kSeenUp = 300;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (line.simulator().fault_counts().requests < kSeenUp &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(10ms);
    }
    return line.simulator().fault_counts().requests >= kSeenUp;
  };
  bool first_polled = false, second_polled = false;
  std::thread plugging([&] {
    // Ctrl-C ends the monitor once all is seen; it is for the monitor alone.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
    std::this_thread::sleep_for(300ms);
    first = std::make_unique<sim::PtySimulator>(dispensers);
    std::filesystem::create_symlink(first->device_path(), link);
    first_polled = polled(*first);
    std::filesystem::remove(link);
    first.reset();
    std::this_thread::sleep_for(300ms);
    second = std::make_unique<sim::PtySimulator>(dispensers);
    std::filesystem::create_symlink(second->device_path(), link);
    second_polled = polled(*second);
    ::kill(::getpid(), SIGINT);
  });
  std::ostringstream results, notes;
  Output out(true, results, notes);
  MonitorOptions monitoring;  // no pumps given: those that answer
  monitoring.interval_ms = 0;
  EXPECT_THROW(monitor(*session_, out, monitoring), Interrupted);
  plugging.join();
  session_.reset();
  EXPECT_TRUE(first_polled);
  EXPECT_TRUE(second_polled);
  std::vector<std::string> line_events;
  std::istringstream lines(results.str());
  for (std::string text; std::getline(lines, text);) {
    if (text.starts_with(R"({"event":"line")")) line_events.push_back(text);
  }
  ASSERT_EQ(line_events.size(), 4U) << results.str();
  EXPECT_THAT(line_events[0], ::testing::HasSubstr("No such file or directory"));
  EXPECT_THAT(line_events[1], ::testing::HasSubstr(R"("up":true,"pumps":32)"));
  EXPECT_THAT(line_events[2], ::testing::HasSubstr(R"("up":false)"));
  EXPECT_THAT(line_events[3], ::testing::HasSubstr(R"("up":true,"pumps":32)"));
}

// The command line, in this process.
struct CliRun {
  int status = 0;
  std::string out;
  std::string err;
};

CliRun run_cli(std::vector<std::string> args, const std::string& input = {}) {
  // A terminal that shows the driver's Cyrillic texts.
  std::setlocale(LC_CTYPE, "C.UTF-8");
  std::vector<const char*> argv{"zarvo"};
  for (const auto& arg : args) argv.push_back(arg.c_str());
  std::istringstream in(input);
  std::ostringstream out, err;
  CliRun result;
  result.status = run_zarvo(static_cast<int>(argv.size()), argv.data(), in, out, err);
  result.out = out.str();
  result.err = err.str();
  return result;
}

TEST_F(EndToEnd, fuel_by_amount_reports_its_volume_and_amount_as_json) {
  sim::PtySimulator line(fast_line());
  const CliRun fuelled =
      run_cli({"--lib", ZARVO_TEST_LIBRARY, "--line", "1=" + line.device_path(), "--json", "fuel",
               "1", "1", "1", "--amount", "100", "--price", "50"});
  ASSERT_EQ(fuelled.status, 0) << fuelled.err;
  EXPECT_THAT(fuelled.out, ::testing::HasSubstr("\"volume\":2,\"amount\":100,"));
}

TEST_F(EndToEnd, the_shell_keeps_one_session_and_goes_on_after_a_failed_line) {
  sim::PtySimulator line(fast_line());
  const CliRun shell =
      run_cli({"--lib", ZARVO_TEST_LIBRARY, "--line", "1=" + line.device_path(), "--json", "shell"},
              "# a scenario\n"
              "price 1 1 1 50\n"
              "price 1 99 1 50\n"
              "fuel 1 1 1 --amount 25 --price 50\n"
              "delivery 1 1\n"
              "price 1 1 1 40\n"
              "fuel 1 1 1 --amount 20\n");
  EXPECT_NE(shell.status, 0);  // the pump number 99 was refused
  EXPECT_THAT(shell.err, ::testing::HasSubstr("pump"));
  EXPECT_THAT(shell.out,
              ::testing::HasSubstr("{\"command\":\"delivery\",\"line\":1,\"pump\":1,\"volume\":0.5,"
                                   "\"amount\":25}"));
  // A line's options are its own: the last fuel keeps the price of 40.
  EXPECT_THAT(shell.out, ::testing::HasSubstr("\"volume\":0.5,\"amount\":20,"));
}

TEST_F(EndToEnd, a_driver_failure_prints_its_message_and_ends_with_a_failure_status) {
  sim::Options options = fast_line();
  options.faults.silent = 1.0;
  options.faults.silent_for = 60s;
  sim::PtySimulator line(options);
  const CliRun status = run_cli({"--lib", ZARVO_TEST_LIBRARY, "--line", "1=" + line.device_path(),
                                 "--first-byte-timeout", "50", "price", "1", "1", "1", "12.34"});
  EXPECT_EQ(status.status, 1);
  EXPECT_THAT(status.err, ::testing::HasSubstr("Ошибка задания цены"));
  EXPECT_THAT(status.err, ::testing::HasSubstr("no reply"));
}

TEST(CommandLine, a_number_out_of_range_is_refused_with_the_range_a_person_writes) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"price", "1", "1", "1", "-5"}, "price: must be 0 or more\n"},
      {{"totals", "1", "1", "9"}, "nozzle: must be 1 to 6\n"},
      {{"status", "41", "1"}, "line: must be 1 to 40\n"},
      {{"fuel", "1", "1", "1", "--amount", "0"}, "--amount: must be more than 0\n"},
      {{"bench", "--seconds", "0.05"}, "--seconds: must be 0.1 to 3600\n"},
      {{"preset", "volume", "1", "1", "1", "lots"}, "value: must be a number 0 or more\n"},
  };
  for (const auto& [args, message] : cases) {
    const CliRun run = run_cli(args);
    EXPECT_EQ(run.status, 64) << args.front();
    EXPECT_THAT(run.err, ::testing::StartsWith(message)) << args.front();
  }
}

TEST_F(EndToEnd, a_line_is_one_monitors_and_one_device_is_one_line) {
  start();  // this session holds the line, as a running monitor does
  driver().poll(1, 1, 0);
  const std::string device = simulator_->device_path();
  const CliRun second = run_cli({"--lib", ZARVO_TEST_LIBRARY, "--line", "1=" + device, "monitor",
                                 "--pumps", "1", "--count", "1"});
  EXPECT_EQ(second.status, 2);
  EXPECT_THAT(second.err, ::testing::HasSubstr(device + ": in use by another process"));
  const CliRun status =
      run_cli({"--lib", ZARVO_TEST_LIBRARY, "--line", "1=" + device, "status", "1", "1"});
  EXPECT_EQ(status.status, 2) << "a held line is the host's failure, whatever the command";
  EXPECT_THAT(status.err, ::testing::HasSubstr(device + ": in use by another process"));
  const std::string other_name = "/dev/" + device.substr(std::string("/dev/").size() - 1);
  const CliRun twice = run_cli(
      {"--lib", ZARVO_TEST_LIBRARY, "--line", "1=" + device, "--line", "2=" + other_name, "info"});
  EXPECT_EQ(twice.status, 2);
  EXPECT_THAT(twice.err, ::testing::HasSubstr("already bound to line 1"));
}

TEST_F(EndToEnd, the_journal_lists_its_deliveries_as_a_table_csv_or_json) {
  const std::string path = (std::filesystem::path(settings_.path()) / "listed.db").string();
  Journal(path).record({2, 12, 123, 3.0, 150.5});
  const CliRun table = run_cli({"journal", path});
  ASSERT_EQ(table.status, 0) << table.err;
  EXPECT_THAT(table.out,
              ::testing::MatchesRegex("id  recorded_at +line  pump  transaction  volume  "
                                      "amount\n 1  20[^ ]+Z     2    12          123    "
                                      "3.00  150.50\n1 delivery\n"));
  const CliRun csv = run_cli({"journal", path, "--csv"});
  EXPECT_THAT(csv.out,
              ::testing::MatchesRegex("id,recorded_at,line,pump,transaction,volume,amount\n"
                                      "1,20[^,]+Z,2,12,123,3.00,150.50\n"));
  const CliRun json = run_cli({"journal", path, "--json", "--since", "2000-01-01T00:00"});
  EXPECT_THAT(json.out,
              ::testing::MatchesRegex(R"(\{"id":1,"recorded_at":"[^"]+","line":2,"pump":12,)"
                                      R"("transaction":123,"volume":3,"amount":150.5\})"
                                      "\n"));
  EXPECT_EQ(run_cli({"journal", path, "--json", "--since", "2999-01-01"}).out, "");
  for (const char* since : {"2000-01-01 00:00:00.5Z", "2000-01-01T03:00+03:00"}) {
    EXPECT_EQ(run_cli({"journal", path, "--csv", "--since", since}).out, csv.out) << since;
  }
  for (const char* since :
       {"yesterday", "2026-13-01", "2026-12-09T24:00", "2026-12-09Z", "2026-02-31", "2025-02-29"}) {
    EXPECT_NE(run_cli({"journal", path, "--since", since}).status, 0) << since;
  }
  EXPECT_EQ(run_cli({"journal", path, "--since", "2024-02-29"}).status, 0);
  EXPECT_NE(run_cli({"journal", path, "--csv", "--json"}).status, 0);
  // A listing that cannot be written is a failure.
  const char* argv[] = {"zarvo", "journal", path.c_str()};
  std::istringstream in;
  std::ostream nowhere(nullptr);
  std::ostringstream err;
  EXPECT_EQ(run_zarvo(3, argv, in, nowhere, err), 2);
  EXPECT_THAT(err.str(), ::testing::HasSubstr("standard output cannot be written"));

  // A station counting in thousandths keeps them.
  const std::string thousandths = settings_.path() + "/thousandths.db";
  Journal(thousandths).record({1, 1, 5, 0.79, 43.275});
  EXPECT_THAT(run_cli({"journal", thousandths, "--csv"}).out,
              ::testing::EndsWith(",0.79,43.275\n"));
  EXPECT_THAT(run_cli({"journal", thousandths}).out, ::testing::HasSubstr("  0.79  43.275\n"));

  // Each reason a file cannot be listed is named.
  const std::string text_file = settings_.path() + "/notes.txt";
  std::ofstream(text_file) << "not a database\n";
  const std::string other_db = settings_.path() + "/other.db";
  sqlite3* db = nullptr;
  sqlite3_open(other_db.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE prices (nozzle INTEGER)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  sqlite3_open(thousandths.c_str(), &db);
  sqlite3_exec(db, "BEGIN EXCLUSIVE; DELETE FROM deliveries", nullptr, nullptr, nullptr);
  const std::vector<std::pair<std::string, std::string>> problems{
      {settings_.path() + "/missing.db", "no such file"},
      {settings_.path(), "is a directory"},
      {text_file, "not a journal"},
      {other_db, "is not a journal: no such table: deliveries"},
      {thousandths, "database is locked (another process holds it"}};
  for (const auto& [file, problem] : problems) {
    const CliRun listed = run_cli({"journal", file});
    EXPECT_EQ(listed.status, 2) << file;
    EXPECT_THAT(listed.err, ::testing::HasSubstr(problem)) << file;
  }
  sqlite3_close(db);
}

TEST_F(EndToEnd, the_monitor_polls_every_line_and_reports_them_in_line_order) {
  sim::PtySimulator line1(fast_line());
  sim::PtySimulator line2(fast_line());
  const CliRun run =
      run_cli({"--lib", ZARVO_TEST_LIBRARY, "--line", "2=" + line2.device_path(), "--line",
               "1=" + line1.device_path(), "--json", "monitor", "--pumps", "2", "--count", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> polled;
  std::istringstream results(run.out);
  for (std::string text; std::getline(results, text);) {
    unsigned line = 0, pump = 0;
    if (std::sscanf(text.c_str(), R"({"event":"state","line":%u,"pump":%u,)", &line, &pump) == 2) {
      polled.push_back(std::to_string(line) + "/" + std::to_string(pump));
    }
  }
  EXPECT_THAT(polled, ::testing::ElementsAre("1/1", "1/2", "2/1", "2/2"));
}

TEST_F(EndToEnd, a_line_that_is_down_does_not_hold_back_what_the_monitor_reports_of_another) {
  sim::PtySimulator line1(fast_line());  // 10 l a second
  ASSERT_EQ(run_cli({"--lib", ZARVO_TEST_LIBRARY, "--line", "1=" + line1.device_path(), "preset",
                     "volume", "1", "1", "1", "20"})
                .status,
            0);
  // Line 1 sweeps every few milliseconds while the delivery runs for 2 s;
  // line 2 is tried again every 2 s.
  zarvo::testing::Program watching(
      {ZARVO_TEST_TOOL, "--lib", ZARVO_TEST_LIBRARY, "--line", "1=" + line1.device_path(), "--line",
       "2=" + settings_.path() + "/none", "--json", "monitor", "--pumps", "1", "--interval", "5"});
  std::string delivery;
  while (const auto line = watching.read_line(30s)) {
    if (line->find(R"("event":"delivery")") != std::string::npos) {
      delivery = *line;
      break;
    }
  }
  EXPECT_THAT(delivery, ::testing::HasSubstr(R"("line":1,"pump":1,"transaction":1,"volume":20)"));
  EXPECT_EQ(watching.end(SIGTERM), 130);
}

TEST_F(EndToEnd, bench_polls_its_own_simulated_lines_and_ends_with_the_worst_utilization) {
  const CliRun run = run_cli(
      {"--lib", ZARVO_TEST_LIBRARY, "bench", "--lines", "2", "--pumps", "4", "--seconds", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, ::testing::HasSubstr("line 1: "));
  EXPECT_THAT(run.out, ::testing::HasSubstr("line 2: "));
  EXPECT_THAT(run.out, ::testing::HasSubstr("full cycle (8 pumps): "));
  const std::string last_line = run.out.substr(run.out.rfind('\n', run.out.size() - 2) + 1);
  EXPECT_THAT(last_line,
              ::testing::MatchesRegex("utilization: [0-9]\\.[0-9][0-9] of the line limit\n"));

  // A line given as a device: here a simulator on a pseudo-terminal.
  sim::PtySimulator device(fast_line());
  const CliRun on_a_device =
      run_cli({"--lib", ZARVO_TEST_LIBRARY, "--json", "bench", "--line",
               "3=" + device.device_path(), "--pumps", "2", "--seconds", "0.5"});
  ASSERT_EQ(on_a_device.status, 0) << on_a_device.err;
  EXPECT_THAT(on_a_device.out, ::testing::HasSubstr(R"("lines":1,"simulated":false,)"));
  EXPECT_THAT(on_a_device.out, ::testing::HasSubstr(R"("per_line":[{"line":3,)"));
  EXPECT_THAT(on_a_device.out, ::testing::HasSubstr(R"("failed":0,)"));

  // A line that cannot be used has no utilization to show: bench fails with the reason.
  const CliRun dead = run_cli({"--lib", ZARVO_TEST_LIBRARY, "bench", "--line",
                               "1=/nonexistent/ttyZ9", "--pumps", "1", "--seconds", "0.1"});
  EXPECT_EQ(dead.status, 1);
  EXPECT_THAT(dead.err, ::testing::HasSubstr("zarvo bench: line 1: /nonexistent/ttyZ9: open: No "
                                             "such file or directory"));
}

// The command line on a simulated line of its own, in this process.
class OnALine : public EndToEnd {
 protected:
  explicit OnALine(const sim::Options& options = fast_line()) : line_(options) {}

  CliRun zarvo(std::vector<std::string> args) {
    args.insert(args.begin(), {"--lib", ZARVO_TEST_LIBRARY, "--line", "1=" + line_.device_path()});
    return run_cli(std::move(args));
  }

  // The program in a process of its own, for what touches the whole process
  // (signals, the locale); `meanwhile` runs while it does, with its standard
  // error's file.
  CliRun zarvo_process(const std::vector<std::string>& args,
                       const std::vector<std::string>& environment = {},
                       const std::function<void(pid_t, const std::string&)>& meanwhile = {}) {
    const std::string out_path = settings_.path() + "/out.txt";
    const std::string err_path = settings_.path() + "/err.txt";
    std::vector<std::string> words{ZARVO_TEST_TOOL, "--lib", ZARVO_TEST_LIBRARY, "--line",
                                   "1=" + line_.device_path()};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      const bool replaced = std::ranges::any_of(environment, [&](const std::string& given) {
        return text.substr(0, text.find('=') + 1) == given.substr(0, given.find('=') + 1);
      });
      if (!replaced) env.emplace_back(text);
    }
    env.insert(env.end(), environment.begin(), environment.end());
    // Everything the child needs is made before it exists: it only execs.
    const auto pointers = [](std::vector<std::string>& texts) {
      std::vector<char*> list;
      for (std::string& text : texts) list.push_back(text.data());
      list.push_back(nullptr);
      return list;
    };
    std::vector<char*> argv = pointers(words);
    std::vector<char*> envp = pointers(env);
    const int out_fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(out_fd, STDOUT_FILENO);
      ::dup2(err_fd, STDERR_FILENO);
      ::execve(argv[0], argv.data(), envp.data());
      zarvo::testing::ExitChild(127);
    }
    ::close(out_fd);
    ::close(err_fd);
    if (meanwhile) meanwhile(pid, err_path);
    int raw = 0;
    ::waitpid(pid, &raw, 0);
    const auto text_of = [](const std::string& path) {
      std::ifstream file(path);
      return std::string(std::istreambuf_iterator<char>(file), {});
    };
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), text_of(out_path),
            text_of(err_path)};
  }

  sim::PtySimulator line_;
};

class OnASlowLine : public OnALine {
 protected:
  OnASlowLine() : OnALine(slow_line()) {}
  static sim::Options slow_line() {
    sim::Options options = fast_line();
    options.model.flow_lpm = 60;
    return options;
  }
};

TEST_F(OnASlowLine, a_refusal_fails_the_command_with_the_request_and_the_pumps_answer) {
  ASSERT_EQ(zarvo({"preset", "volume", "1", "2", "1", "20"}).status, 0);
  const struct {
    std::vector<std::string> args;
    std::string refused;
  } cases[] = {
      {{"param", "set", "1", "1", "40", "7"}, "write parameter 40 = 0x07, pump 1"},
      // Pump 2 is delivering: the start is refused, and nobody's delivery followed.
      {{"fuel", "1", "2", "1", "--amount", "20"}, "start, pump 2 nozzle 1, amount 002000"},
  };
  const std::string message = "the pump refused it (answer 1): ";
  for (const auto& c : cases) {
    const CliRun text = zarvo(c.args);
    EXPECT_EQ(text.status, 4) << c.refused;
    EXPECT_EQ(text.out, "");
    EXPECT_THAT(text.err, ::testing::HasSubstr(message + c.refused));
    std::vector<std::string> json_args = c.args;
    json_args.insert(json_args.begin(), "--json");
    const CliRun json = zarvo(json_args);
    EXPECT_EQ(json.status, 4);
    EXPECT_THAT(json.out, ::testing::StartsWith(R"({"command":")" + c.args.front() +
                                                R"(","error":")" + message + c.refused));
    EXPECT_THAT(json.out, ::testing::EndsWith(",\"status\":4}\n"));
  }
}

TEST_F(OnALine, a_fresh_hosts_first_price_reaches_the_pump_even_at_the_default_digits) {
  ASSERT_EQ(zarvo({"price", "1", "1", "1", "50"}).status, 0);
  const CliRun run = zarvo({"price", "1", "1", "1", "6.5"});
  EXPECT_EQ(run.out, "line 1 pump 1 nozzle 1: price 6.50\n");
  EXPECT_EQ(line_.simulator().inspect([](const sim::Dispenser& d) { return d.price(1, 1); }), 650);
}

TEST_F(OnALine, fuel_on_a_fresh_pump_programs_three_decimals_before_its_start) {
  settings_.write_file("[Zarvo]\r\nSDec=3\r\n");
  const CliRun run = zarvo({"--trace", "fuel", "1", "3", "1", "--amount", "20"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto programmed = run.err.find("write parameter 40 = 0x03, pump 3");
  ASSERT_NE(programmed, std::string::npos);
  EXPECT_LT(programmed, run.err.find("start, pump 3 nozzle 1, amount 020000"));
  EXPECT_THAT(run.out, ::testing::HasSubstr("delivered 3.08 l for 20.000\n"));
  const auto record = line_.simulator().transactions();
  ASSERT_EQ(record.size(), 1U);
  EXPECT_EQ(record[0].amount, 20000);
  EXPECT_EQ(record[0].amount_decimals, 3);
}

TEST_F(OnALine, numbers_are_read_and_written_with_a_point_under_a_russian_locale) {
  const std::string locales = settings_.path() + "/locales";
  std::filesystem::create_directory(locales);
  const std::string make = "localedef -i ru_RU -f UTF-8 " + locales + "/ru_RU.UTF-8 2>/dev/null";
  if (std::system(make.c_str()) != 0) {
    GTEST_SKIP() << "localedef cannot make ru_RU.UTF-8 here (Debian package locales)";
  }
  const std::vector<std::string> russian{"LC_ALL=ru_RU.UTF-8", "LOCPATH=" + locales};
  for (const char* typed : {"45.5", "45,5"}) {
    const CliRun run = zarvo_process({"price", "1", "1", "1", typed}, russian);
    EXPECT_EQ(run.status, 0) << typed << run.err;
    EXPECT_EQ(run.out, "line 1 pump 1 nozzle 1: price 45.50\n") << typed;
  }
  const CliRun fuelled = zarvo_process({"fuel", "1", "1", "1", "--volume", "1,5"}, russian);
  EXPECT_THAT(fuelled.out,
              ::testing::StartsWith("line 1 pump 1 nozzle 1: delivered 1.50 l for 9.75"));
}

TEST_F(OnASlowLine, an_interrupted_fuel_stops_the_pump_and_shows_what_it_delivered) {
  const auto interrupt_once_fuelling = [](pid_t pid, const std::string& err_path) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
      std::ifstream err(err_path);
      if (std::string(std::istreambuf_iterator<char>(err), {}).find("fuelling") !=
          std::string::npos) {
        break;
      }
      std::this_thread::sleep_for(20ms);
    }
    ::kill(pid, SIGINT);
  };
  const CliRun run = zarvo_process({"--trace", "fuel", "1", "2", "1", "--volume", "20"}, {},
                                   interrupt_once_fuelling);
  EXPECT_EQ(run.status, 130);
  EXPECT_THAT(run.err, ::testing::HasSubstr("stop, pump 2"));
  EXPECT_THAT(run.out, ::testing::MatchesRegex("line 1 pump 2 nozzle 1: delivered [0-9.]+ l for "
                                               "[0-9.]+, short of the preset 20.00: stopped on an "
                                               "interrupt\ntotals: .*"));
  const auto record = line_.simulator().transactions();
  ASSERT_EQ(record.size(), 1U);
  EXPECT_TRUE(record[0].acknowledged);
  EXPECT_LT(record[0].volume_cl, 2000);
}

TEST_F(OnALine, a_status_that_ends_a_delivery_shows_and_journals_its_readings) {
  ASSERT_EQ(zarvo({"preset", "volume", "1", "4", "1", "0.5"}).status, 0);
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  const auto ended = [this] {
    return line_.simulator().inspect(
        [](const sim::Dispenser& d) { return !d.transactions().empty(); });
  };
  while (!ended() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(10ms);
  const std::string journal = settings_.path() + "/status.db";
  const CliRun run = zarvo({"status", "1", "4", "--journal", journal});
  EXPECT_EQ(run.out,
            "line 1 pump 4: transaction 1 ended, 0.50 l for 3.25\n"
            "line 1 pump 4: state 1 (idle, transaction ended)\n");
  EXPECT_EQ(Journal(journal).count(), 1);
  ASSERT_EQ(line_.simulator().transactions().size(), 1U);
  EXPECT_TRUE(line_.simulator().transactions()[0].acknowledged);
}

}  // namespace
}  // namespace zarvo::host
