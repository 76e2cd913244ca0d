#include "host/soak.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "host/monitor.h"
#include "host/text.h"

namespace zarvo::host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Faster than life: a delivery takes well under a second, a customer reacts at once.
constexpr double kSoakFlowLpm = 1000;
constexpr milliseconds kSoakReaction{5};
constexpr milliseconds kSoakTurnaround{1};
constexpr milliseconds kSoakFirstByte{50};
constexpr milliseconds kSoakInterByte{20};
constexpr milliseconds kSilentSpell{100};
// A late reply arrives this long after the host stopped waiting for it.
constexpr milliseconds kLateBy{25};
// After the budget, exchanges allowed for the running deliveries to end.
constexpr std::uint64_t kDrainExchanges = 5000;
constexpr std::size_t kShownDetails = 10;

constexpr std::uint8_t kIdle = 192;

double percent(const std::string& key, const std::string& value) {
  std::size_t used = 0;
  double number = -1;
  try {
    number = std::stod(value, &used);
  } catch (const std::logic_error&) {
    used = 0;
  }
  if (used != value.size() || !(number >= 0 && number <= 100)) {
    throw std::invalid_argument("fault " + key + "=" + value + ": give a percentage 0..100");
  }
  return number / 100;
}

milliseconds duration(const std::string& key, const std::string& value) {
  std::size_t used = 0;
  long long number = -1;
  try {
    number = std::stoll(value, &used);
  } catch (const std::logic_error&) {
    used = 0;
  }
  if (used != value.size() || number < 0 || number > 60000) {
    throw std::invalid_argument("fault " + key + "=" + value + ": give milliseconds 0..60000");
  }
  return milliseconds(number);
}

std::string percent_text(double share) {
  char text[32];
  std::snprintf(text, sizeof text, "%g %%", share * 100);
  return text;
}

}  // namespace

std::string describe_faults(const BuiltinSimFaults& f) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (f.corrupt > 0) add("corrupt " + percent_text(f.corrupt));
  if (f.drop > 0) add("drop " + percent_text(f.drop));
  if (f.silent > 0) {
    add("silent " + percent_text(f.silent) + " for " + std::to_string(f.silent_for.count()) +
        " ms");
  }
  if (f.noise > 0) add("noise " + percent_text(f.noise));
  if (f.delay > 0) {
    add("late " + percent_text(f.delay) + " by " + std::to_string(f.delay_for.count()) + " ms");
  }
  return text.empty() ? "no faults" : text;
}

namespace {

bool same_reading(const SimTransaction& t, const JournalEntry& e) {
  const double scale = std::pow(10.0, t.amount_decimals);
  return std::llround(e.volume * 100) == t.volume_cl && std::llround(e.amount * scale) == t.amount;
}

std::string describe(const SimTransaction& t) {
  char text[160];
  std::snprintf(text, sizeof text, "line %u pump %u transaction %u (%.2f l for %.*f)", t.line,
                t.pump, t.number, static_cast<double>(t.volume_cl) / 100, t.amount_decimals,
                static_cast<double>(t.amount) / std::pow(10.0, t.amount_decimals));
  return text;
}

std::string describe(const JournalEntry& e) {
  char text[160];
  std::snprintf(text, sizeof text, "line %u pump %u transaction %u (%.2f l for %.2f)", e.line,
                e.pump, e.transaction, e.volume, e.amount);
  return text;
}

// One pump's place in the cycle: wait until it is idle, start a delivery,
// follow it to its end, and again.
enum class Phase {
  kSettling,  // waiting for every nozzle to hang up
  kReady,     // idle: the next delivery may start
  kRunning,   // a preset went out; its delivery has not been journaled yet
};

struct PumpRun {
  std::uint32_t pump = 0;
  Phase phase = Phase::kSettling;
};

class SoakRun {
 public:
  SoakRun(Session& session, Journal& journal, const SoakOptions& options)
      : session_(session),
        driver_(session.driver()),
        journal_(journal),
        options_(options),
        random_(options.seed) {
    for (std::uint32_t pump = 1; pump <= options.pumps; ++pump) pumps_.push_back({pump});
    session_.set_listener([this](const ExchangeRecord& record) {
      ++exchanges_;
      ++results_[record.result];
      strays_ += record.strays;
      tracker_.observe(record);
    });
  }
  ~SoakRun() { session_.set_listener(nullptr); }
  SoakRun(const SoakRun&) = delete;
  SoakRun& operator=(const SoakRun&) = delete;

  void run() {
    while (exchanges_ < options_.exchanges) {
      for (PumpRun& pump : pumps_) {
        if (exchanges_ >= options_.exchanges) break;
        step(pump, true);
      }
    }
    // No new deliveries; those running end and are acknowledged.
    const std::uint64_t limit = exchanges_ + kDrainExchanges;
    while (busy_pumps() > 0 && exchanges_ < limit) {
      for (PumpRun& pump : pumps_) {
        if (pump.phase != Phase::kReady) step(pump, false);
      }
    }
  }

  std::size_t busy_pumps() const {
    std::size_t busy = 0;
    for (const PumpRun& pump : pumps_) busy += pump.phase == Phase::kReady ? 0 : 1;
    return busy;
  }
  std::uint64_t exchanges() const { return exchanges_; }
  const std::map<PortResult, std::uint64_t>& results() const { return results_; }
  const std::map<std::string, std::uint64_t>& failures() const { return failures_; }
  std::uint64_t strays() const { return strays_; }
  std::uint64_t crashes() const { return crashes_; }
  std::uint64_t presets() const { return presets_; }
  std::uint64_t not_started() const { return not_started_; }
  std::uint64_t journaled() const { return journaled_; }

 private:
  static constexpr std::uint32_t kLine = 1;

  std::uint64_t draw(std::uint64_t count) { return random_() % count; }

  // Runs one driver call; a failure is counted by its message.
  template <class F>
  bool guarded(F&& call) {
    try {
      call();
      return true;
    } catch (const zarvo::Exception& e) {
      const std::string message = from_cp1251(e.what());
      ++failures_[message.empty() ? std::string("(no message)") : message];
    } catch (...) {
      // The driver raises nothing else; anything else is a defect.
      ++crashes_;
    }
    return false;
  }

  void step(PumpRun& pump, bool may_start) {
    if (pump.phase == Phase::kReady) {
      if (may_start) start(pump);
      return;
    }
    std::uint8_t state = 0;
    const bool polled = guarded([&] { state = driver_.poll(kLine, pump.pump, 0).state; });
    journal_completion(pump);
    if (!polled || state != kIdle) return;
    // Idle with the preset still unreported: it never reached the pump, or was refused.
    if (pump.phase == Phase::kRunning) ++not_started_;
    pump.phase = Phase::kReady;
  }

  void start(PumpRun& pump) {
    const auto nozzle = static_cast<std::uint32_t>(1 + draw(2));
    // Prices 5.00 to 9.99 and whole amounts fit every decimals setting.
    if (draw(4) == 0) {
      const double price = static_cast<double>(500 + draw(500)) / 100;
      guarded([&] { driver_.set_price(kLine, pump.pump, nozzle, price); });
    }
    if (draw(2) == 0) {
      const auto amount = static_cast<double>(5 + draw(56));
      guarded([&] { driver_.preset_amount(kLine, pump.pump, nozzle, amount); });
    } else {
      const double volume = static_cast<double>(50 + draw(551)) / 100;
      guarded([&] { driver_.preset_volume(kLine, pump.pump, nozzle, volume); });
    }
    ++presets_;
    pump.phase = Phase::kRunning;
    journal_completion(pump);
  }

  // Journals the delivery whose end the last exchanges acknowledged.
  void journal_completion(PumpRun& pump) {
    const auto transaction = tracker_.take(kLine, pump.pump);
    if (!transaction) return;
    const Delivery reading = driver_.delivery(kLine, pump.pump);
    journal_.record({kLine, pump.pump, *transaction, reading.volume, reading.amount});
    ++journaled_;
    pump.phase = Phase::kSettling;
  }

  Session& session_;
  const Driver& driver_;
  Journal& journal_;
  const SoakOptions& options_;
  std::mt19937_64 random_;
  CompletionTracker tracker_;
  std::vector<PumpRun> pumps_;
  std::uint64_t exchanges_ = 0;
  std::map<PortResult, std::uint64_t> results_;
  std::map<std::string, std::uint64_t> failures_;
  std::uint64_t strays_ = 0;
  std::uint64_t crashes_ = 0;
  std::uint64_t presets_ = 0;
  std::uint64_t not_started_ = 0;
  std::uint64_t journaled_ = 0;
};

}  // namespace

BuiltinSimFaults parse_fault_profile(const std::string& text, milliseconds first_byte_timeout) {
  BuiltinSimFaults faults;
  faults.silent_for = kSilentSpell;
  faults.delay_for = first_byte_timeout + kLateBy;
  std::stringstream parts(text);
  std::string part;
  bool first = true;
  while (std::getline(parts, part, ',')) {
    const auto equals = part.find('=');
    if (equals == std::string::npos) {
      if (!first) throw std::invalid_argument("fault profile: a name must come first: " + part);
      if (part == "default" || part == "harsh") {
        faults.corrupt = 0.05;
        faults.drop = 0.02;
        faults.silent = 0.01;
      }
      if (part == "harsh") {
        faults.noise = 0.05;
        faults.delay = 0.01;
      } else if (part != "default" && part != "none") {
        throw std::invalid_argument("unknown fault profile '" + part +
                                    "' (none, default, harsh, or key=value settings)");
      }
    } else {
      const std::string key = part.substr(0, equals);
      const std::string value = part.substr(equals + 1);
      if (key == "corrupt") {
        faults.corrupt = percent(key, value);
      } else if (key == "drop") {
        faults.drop = percent(key, value);
      } else if (key == "silent") {
        faults.silent = percent(key, value);
      } else if (key == "noise") {
        faults.noise = percent(key, value);
      } else if (key == "late") {
        faults.delay = percent(key, value);
      } else if (key == "silent-ms") {
        faults.silent_for = duration(key, value);
      } else if (key == "late-ms") {
        faults.delay_for = duration(key, value);
      } else {
        throw std::invalid_argument("unknown fault setting '" + key +
                                    "' (corrupt, drop, silent, noise, late, silent-ms, late-ms)");
      }
    }
    first = false;
  }
  if (first) throw std::invalid_argument("empty fault profile");
  return faults;
}

void prepare_soak_session(const SoakOptions& options, SessionOptions& session,
                          bool timeouts_given) {
  if (!session.lines.empty()) {
    throw std::invalid_argument(
        "soak compares with the built-in simulator's record: leave out --line");
  }
  if (!timeouts_given) session.timeouts = {kSoakFirstByte, kSoakInterByte};
  BuiltinSimOptions& sim = session.simulator;
  sim.pacing = false;
  sim.pumps = static_cast<int>(options.pumps);
  sim.flow_lpm = kSoakFlowLpm;
  sim.reaction = kSoakReaction;
  sim.turnaround = kSoakTurnaround;
  sim.faults = parse_fault_profile(options.faults, session.timeouts.first_byte);
  sim.faults.seed = options.seed;
}

SoakVerdict compare_records(const std::vector<SimTransaction>& delivered,
                            const std::vector<JournalEntry>& journaled) {
  using Key = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;
  std::map<Key, std::vector<const JournalEntry*>> entries;
  for (const JournalEntry& e : journaled) entries[{e.line, e.pump, e.transaction}].push_back(&e);
  SoakVerdict verdict;
  const auto note = [&verdict](const std::string& text) {
    if (verdict.details.size() < kShownDetails) verdict.details.push_back(text);
  };
  for (const SimTransaction& t : delivered) {
    const auto found = entries.find({t.line, t.pump, t.number});
    if (found == entries.end()) {
      ++verdict.lost;
      note("lost: " + describe(t));
      continue;
    }
    if (found->second.size() > 1) {
      verdict.duplicated += found->second.size() - 1;
      note("journaled " + std::to_string(found->second.size()) + " times: " + describe(t));
    }
    for (const JournalEntry* e : found->second) {
      if (same_reading(t, *e)) continue;
      ++verdict.wrong;
      note("wrong: " + describe(*e) + ", delivered " + describe(t));
    }
    entries.erase(found);
  }
  for (const auto& [key, list] : entries) {
    verdict.wrong += list.size();
    note("journaled, never delivered: " + describe(*list.front()));
  }
  return verdict;
}

int soak(Session& session, Output& out, const SoakOptions& options) {
  const BuiltinSimulator* simulator = session.simulator();
  if (simulator == nullptr) {
    throw std::runtime_error("soak runs on the built-in simulator only: leave out --line");
  }
  Journal journal(options.journal.empty() ? std::string(":memory:") : options.journal);
  const std::int64_t first_id = journal.last_id();
  const auto began = Clock::now();
  SoakRun run(session, journal, options);
  run.run();
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();

  const std::vector<SimTransaction> delivered = simulator->transactions();
  const SoakVerdict verdict = compare_records(delivered, journal.entries_after(first_id));
  const SimFaultCounts faults = simulator->fault_counts();
  std::uint64_t acknowledged = 0;
  for (const SimTransaction& t : delivered) acknowledged += t.acknowledged ? 1 : 0;

  std::ostringstream text;
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.1f", seconds);
  text << "soak: " << run.exchanges() << " exchanges on " << options.pumps << " pumps in "
       << elapsed << " s, seed " << options.seed << "\n";
  text << "faults (" << options.faults << ": " << describe_faults(simulator->options().faults)
       << "): " << faults.corrupted << " corrupted, " << faults.dropped << " dropped, "
       << faults.silent_spells << " silent spells (" << faults.unheard << " requests unheard), "
       << faults.noisy << " noisy, " << faults.delayed << " late, of " << faults.requests
       << " requests the simulator read\n";
  Json results = Json::object();
  text << "exchange results:";
  for (const auto& [result, count] : run.results()) {
    text << ' ' << count << ' ' << describe(result) << ';';
    results.set(describe(result), static_cast<std::int64_t>(count));
  }
  text << ' ' << run.strays() << " late replies from another pump passed over";
  results.set("strays", static_cast<std::int64_t>(run.strays()));
  text << "\ncommand failures:";
  Json failures = Json::object();
  if (run.failures().empty()) text << " none";
  for (const auto& [message, count] : run.failures()) {
    text << "\n  " << count << ' ' << message;
    failures.set(message, static_cast<std::int64_t>(count));
  }
  text << "\ndeliveries: " << run.presets() << " presets (" << run.not_started()
       << " never started), " << delivered.size() << " completed by the simulator (" << acknowledged
       << " acknowledged), " << run.journaled() << " journaled";
  if (run.busy_pumps() > 0) text << "; " << run.busy_pumps() << " pumps still busy at the end";
  text << "\nlost: " << verdict.lost << ", duplicated: " << verdict.duplicated
       << ", wrong: " << verdict.wrong << ", crashes: " << run.crashes();

  for (const std::string& detail : verdict.details) out.err() << "zarvo soak: " << detail << '\n';
  out.result(
      Json::object()
          .set("command", "soak")
          .set("exchanges", static_cast<std::int64_t>(run.exchanges()))
          .set("pumps", options.pumps)
          .set("seed", static_cast<std::int64_t>(options.seed))
          .set("seconds", seconds)
          .set("faults", Json::object()
                             .set("profile", options.faults)
                             .set("requests", static_cast<std::int64_t>(faults.requests))
                             .set("corrupted", static_cast<std::int64_t>(faults.corrupted))
                             .set("dropped", static_cast<std::int64_t>(faults.dropped))
                             .set("silent_spells", static_cast<std::int64_t>(faults.silent_spells))
                             .set("unheard", static_cast<std::int64_t>(faults.unheard))
                             .set("noisy", static_cast<std::int64_t>(faults.noisy))
                             .set("late", static_cast<std::int64_t>(faults.delayed)))
          .set("results", results)
          .set("failures", failures)
          .set("presets", static_cast<std::int64_t>(run.presets()))
          .set("completed", static_cast<std::int64_t>(delivered.size()))
          .set("acknowledged", static_cast<std::int64_t>(acknowledged))
          .set("journaled", static_cast<std::int64_t>(run.journaled()))
          .set("lost", static_cast<std::int64_t>(verdict.lost))
          .set("duplicated", static_cast<std::int64_t>(verdict.duplicated))
          .set("wrong", static_cast<std::int64_t>(verdict.wrong))
          .set("crashes", static_cast<std::int64_t>(run.crashes())),
      text.str());
  return verdict.clean() && run.crashes() == 0 ? 0 : kSoakFoundFaults;
}

}  // namespace zarvo::host
