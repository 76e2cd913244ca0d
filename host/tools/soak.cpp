#include "host/tools/soak.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>
#include <tuple>

#include "codepage/cp1251.h"
#include "host/session/line_threads.h"
#include "host/tools/delivery_tracker.h"

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

constexpr std::uint8_t kIdle = ZARVO_PUMP_IDLE;

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

std::string describe_faults(const sim::FaultOptions& f) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (f.corrupt > 0) add("corrupt " + percent_text(f.corrupt));
  if (f.drop > 0) add("drop " + percent_text(f.drop));
  if (f.silent > 0) {
    add("silent " + percent_text(f.silent) + " for " + std::to_string(f.silent_for.count()) +
        " ms");
  }
  if (f.noise > 0) add("noise " + percent_text(f.noise));
  if (f.delay_rate > 0) {
    add("late " + percent_text(f.delay_rate) + " by " + std::to_string(f.delay.count()) + " ms");
  }
  return text.empty() ? "no faults" : text;
}

namespace {

bool same_reading(const sim::Transaction& t, const JournalEntry& e) {
  const double scale = std::pow(10.0, t.amount_decimals);
  return std::llround(e.volume * 100) == t.volume_cl && std::llround(e.amount * scale) == t.amount;
}

std::string describe(const sim::Transaction& t) {
  char text[160];
  std::snprintf(text, sizeof text, "line %d pump %d transaction %u (%.2f l for %.*f)", t.line,
                t.pump, static_cast<unsigned>(t.number), static_cast<double>(t.volume_cl) / 100,
                t.amount_decimals,
                static_cast<double>(t.amount) / std::pow(10.0, t.amount_decimals));
  return text;
}

std::string describe(const JournalEntry& e) {
  return "line " + std::to_string(e.line) + " pump " + std::to_string(e.pump) + " transaction " +
         std::to_string(e.transaction) + " (" + reading_text(e.volume) + " l for " +
         reading_text(e.amount) + ")";
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

// The journal's connection and its prepared insert serve one thread at a time.
class SharedJournal {
 public:
  explicit SharedJournal(Journal& journal) : journal_(journal) {}
  void record(const JournalEntry& entry) {
    std::lock_guard lock(mutex_);
    journal_.record(entry);
  }

 private:
  std::mutex mutex_;
  Journal& journal_;
};

// One line's deliveries, driven by the thread of that line alone.
class LineSoak {
 public:
  LineSoak(std::uint32_t line, const Driver& driver, SharedJournal& journal,
           CompletionTracker& tracker, const SoakOptions& options)
      : line_(line),
        driver_(driver),
        journal_(journal),
        tracker_(tracker),
        options_(options),
        random_(options.seed + line - 1) {
    for (std::uint32_t pump = 1; pump <= options.pumps; ++pump) pumps_.push_back({pump});
  }

  // Called on this line's thread, from within its exchanges.
  void observe(const ExchangeRecord& record) {
    ++exchanges_;
    ++results_[record.result];
    strays_ += record.strays;
  }

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

  std::uint32_t line() const { return line_; }
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
  std::uint64_t draw(std::uint64_t count) { return random_() % count; }

  // Runs one driver call; a failure is counted by its message.
  template <class F>
  bool guarded(F&& call) {
    try {
      call();
      return true;
    } catch (const zarvo::Exception& e) {
      const std::string message = utf8_from_cp1251(e.what());
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
    const bool polled = guarded([&] { state = driver_.poll(line_, pump.pump, 0).state; });
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
      guarded([&] { driver_.set_price(line_, pump.pump, nozzle, price); });
    }
    if (draw(2) == 0) {
      const auto amount = static_cast<double>(5 + draw(56));
      guarded([&] { driver_.preset_amount(line_, pump.pump, nozzle, amount); });
    } else {
      const double volume = static_cast<double>(50 + draw(551)) / 100;
      guarded([&] { driver_.preset_volume(line_, pump.pump, nozzle, volume); });
    }
    ++presets_;
    pump.phase = Phase::kRunning;
    journal_completion(pump);
  }

  // Journals the delivery whose end the last exchanges acknowledged.
  void journal_completion(PumpRun& pump) {
    const auto transaction = tracker_.take(line_, pump.pump);
    if (!transaction) return;
    const Delivery reading = driver_.delivery(line_, pump.pump);
    journal_.record({line_, pump.pump, *transaction, reading.volume, reading.amount});
    ++journaled_;
    pump.phase = Phase::kSettling;
  }

  const std::uint32_t line_;
  const Driver& driver_;
  SharedJournal& journal_;
  CompletionTracker& tracker_;
  const SoakOptions& options_;
  std::mt19937_64 random_;
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

sim::FaultOptions parse_fault_profile(const std::string& text, milliseconds first_byte_timeout) {
  sim::FaultOptions faults;
  faults.silent_for = kSilentSpell;
  faults.delay = first_byte_timeout + kLateBy;
  faults.delay_rate = 0;
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
        faults.delay_rate = 0.01;
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
        faults.delay_rate = percent(key, value);
      } else if (key == "silent-ms") {
        faults.silent_for = duration(key, value);
      } else if (key == "late-ms") {
        faults.delay = duration(key, value);
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
  sim::Options& sim = session.simulator;
  sim.link.pacing = false;
  sim.model.pumps = static_cast<int>(options.pumps);
  sim.model.flow_lpm = kSoakFlowLpm;
  sim.model.reaction = kSoakReaction;
  sim.link.turnaround = kSoakTurnaround;
  sim.faults = parse_fault_profile(options.faults, session.timeouts.first_byte);
  sim.faults.seed = options.seed;
}

SoakVerdict compare_records(const std::vector<sim::Transaction>& delivered,
                            const std::vector<JournalEntry>& journaled) {
  using Key = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;
  std::map<Key, std::vector<const JournalEntry*>> entries;
  for (const JournalEntry& e : journaled) entries[{e.line, e.pump, e.transaction}].push_back(&e);
  SoakVerdict verdict;
  const auto note = [&verdict](const std::string& text) {
    if (verdict.details.size() < kShownDetails) verdict.details.push_back(text);
  };
  for (const sim::Transaction& t : delivered) {
    const auto found = entries.find(
        Key{static_cast<std::uint32_t>(t.line), static_cast<std::uint32_t>(t.pump), t.number});
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

SoakVerdict compare_line(std::uint32_t line, const std::vector<sim::Transaction>& delivered,
                         const std::vector<JournalEntry>& journaled) {
  std::vector<JournalEntry> own;
  for (const JournalEntry& e : journaled) {
    if (e.line == line) own.push_back(e);
  }
  return compare_records(delivered, own);
}

namespace {

sim::FaultCounts& operator+=(sim::FaultCounts& sum, const sim::FaultCounts& c) {
  sum.requests += c.requests;
  sum.unheard += c.unheard;
  sum.silent_spells += c.silent_spells;
  sum.dropped += c.dropped;
  sum.delayed += c.delayed;
  sum.noisy += c.noisy;
  sum.corrupted += c.corrupted;
  return sum;
}

std::uint64_t injected(const sim::FaultCounts& c) {
  return c.corrupted + c.dropped + c.silent_spells + c.noisy + c.delayed;
}

Json fault_json(const std::string& profile, const sim::FaultCounts& c) {
  return Json{{"profile", profile},
              {"requests", c.requests},
              {"corrupted", c.corrupted},
              {"dropped", c.dropped},
              {"silent_spells", c.silent_spells},
              {"unheard", c.unheard},
              {"noisy", c.noisy},
              {"late", c.delayed}};
}

// What one line did, held against its own simulator's record.
struct LineOutcome {
  std::uint32_t line = 0;
  std::uint64_t exchanges = 0;
  sim::FaultCounts faults;
  std::uint64_t completed = 0;
  std::uint64_t acknowledged = 0;
  std::uint64_t journaled = 0;
  std::uint64_t crashes = 0;
  std::size_t busy_pumps = 0;
  SoakVerdict verdict;
};

LineOutcome outcome_of(const LineSoak& run, const BuiltinSimulator& simulator,
                       const std::vector<JournalEntry>& journaled) {
  LineOutcome o;
  o.line = run.line();
  o.exchanges = run.exchanges();
  o.faults = simulator.fault_counts();
  o.journaled = run.journaled();
  o.crashes = run.crashes();
  o.busy_pumps = run.busy_pumps();
  const std::vector<sim::Transaction> delivered = simulator.transactions();
  o.completed = delivered.size();
  for (const sim::Transaction& t : delivered) o.acknowledged += t.acknowledged ? 1 : 0;
  o.verdict = compare_line(run.line(), delivered, journaled);
  return o;
}

std::string line_text(const LineOutcome& o) {
  std::string text = "line " + std::to_string(o.line) + ": " + std::to_string(o.exchanges) +
                     " exchanges, " + std::to_string(injected(o.faults)) + " faults, " +
                     std::to_string(o.completed) + " completed (" + std::to_string(o.acknowledged) +
                     " acknowledged), " + std::to_string(o.journaled) + " journaled; lost " +
                     std::to_string(o.verdict.lost) + ", duplicated " +
                     std::to_string(o.verdict.duplicated) + ", wrong " +
                     std::to_string(o.verdict.wrong) + ", crashes " + std::to_string(o.crashes);
  if (o.busy_pumps > 0) text += "; " + std::to_string(o.busy_pumps) + " pumps still busy";
  return text;
}

Json line_json(const LineOutcome& o) {
  return Json{{"line", o.line},
              {"exchanges", o.exchanges},
              {"faults", injected(o.faults)},
              {"completed", o.completed},
              {"acknowledged", o.acknowledged},
              {"journaled", o.journaled},
              {"lost", o.verdict.lost},
              {"duplicated", o.verdict.duplicated},
              {"wrong", o.verdict.wrong},
              {"crashes", o.crashes}};
}

// Clears the session's listener before the runs it calls into are gone.
class ListenerScope {
 public:
  ListenerScope(Session& session, ExchangeObserver listener) : session_(session) {
    session_.set_listener(std::move(listener));
  }
  ~ListenerScope() { session_.set_listener(nullptr); }
  ListenerScope(const ListenerScope&) = delete;
  ListenerScope& operator=(const ListenerScope&) = delete;

 private:
  Session& session_;
};

}  // namespace

int soak(const SessionOptions& base, Output& out, const SoakOptions& options) {
  if (!base.lines.empty()) {
    throw std::invalid_argument(
        "soak compares with the built-in simulator's record: leave out --line");
  }
  if (options.lines < 1 || options.lines > kLastLine) {
    throw std::invalid_argument("soak drives 1 to " + std::to_string(kLastLine) + " lines");
  }
  SessionOptions session_options = base;
  const std::vector<std::unique_ptr<BuiltinSimulator>> simulators =
      bind_simulated_lines(session_options, options.lines);
  Session session(session_options, out.err());
  Journal journal(options.journal.empty() ? std::string(":memory:") : options.journal);
  const std::int64_t first_id = journal.last_id();
  SharedJournal shared_journal(journal);
  CompletionTracker tracker;
  std::vector<std::unique_ptr<LineSoak>> runs;
  for (const std::uint32_t line : session.lines()) {
    runs.push_back(
        std::make_unique<LineSoak>(line, session.driver(), shared_journal, tracker, options));
  }
  const auto began = Clock::now();
  {
    const ListenerScope listening(session, [&runs, &tracker](const ExchangeRecord& record) {
      if (record.line >= 1 && record.line <= runs.size()) runs[record.line - 1]->observe(record);
      tracker.observe(record);
    });
    for_each_line_at_once(session.lines(), [&runs](std::uint32_t line) { runs[line - 1]->run(); });
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();

  // Each line is held against its own simulator; the totals are the sums.
  const std::vector<JournalEntry> journaled = journal.entries_after(first_id);
  std::vector<LineOutcome> outcomes;
  LineOutcome total;
  std::map<PortResult, std::uint64_t> results;
  std::map<std::string, std::uint64_t> failures;
  std::uint64_t strays = 0;
  std::uint64_t presets = 0;
  std::uint64_t not_started = 0;
  std::vector<std::string> details;
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const LineSoak& run = *runs[i];
    outcomes.push_back(outcome_of(run, *simulators[i], journaled));
    const LineOutcome& o = outcomes.back();
    total.exchanges += o.exchanges;
    total.faults += o.faults;
    total.completed += o.completed;
    total.acknowledged += o.acknowledged;
    total.journaled += o.journaled;
    total.crashes += o.crashes;
    total.busy_pumps += o.busy_pumps;
    total.verdict.lost += o.verdict.lost;
    total.verdict.duplicated += o.verdict.duplicated;
    total.verdict.wrong += o.verdict.wrong;
    for (const std::string& detail : o.verdict.details) {
      if (details.size() < kShownDetails) details.push_back(detail);
    }
    for (const auto& [result, count] : run.results()) results[result] += count;
    for (const auto& [message, count] : run.failures()) failures[message] += count;
    strays += run.strays();
    presets += run.presets();
    not_started += run.not_started();
  }
  const sim::FaultCounts& faults = total.faults;

  std::ostringstream text;
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, "%.1f", seconds);
  text << "soak: " << total.exchanges << " exchanges on " << options.lines
       << (options.lines == 1 ? " line x " : " lines x ") << options.pumps << " pumps in "
       << elapsed << " s, seed " << options.seed << "\n";
  text << "faults (" << options.faults << ": "
       << describe_faults(simulators.front()->options().faults) << "): " << faults.corrupted
       << " corrupted, " << faults.dropped << " dropped, " << faults.silent_spells
       << " silent spells (" << faults.unheard << " requests unheard), " << faults.noisy
       << " noisy, " << faults.delayed << " late, of " << faults.requests
       << " requests the simulators read\n";
  Json results_json = Json::object();
  text << "exchange results:";
  for (const auto& [result, count] : results) {
    text << ' ' << count << ' ' << describe(result) << ';';
    results_json[describe(result)] = count;
  }
  text << ' ' << strays << " late replies from another pump passed over";
  results_json["strays"] = strays;
  text << "\ncommand failures:";
  Json failures_json = Json::object();
  if (failures.empty()) text << " none";
  for (const auto& [message, count] : failures) {
    text << "\n  " << count << ' ' << message;
    failures_json[message] = count;
  }
  text << "\ndeliveries: " << presets << " presets (" << not_started << " never started), "
       << total.completed << " completed by the simulators (" << total.acknowledged
       << " acknowledged), " << total.journaled << " journaled";
  if (total.busy_pumps > 0) text << "; " << total.busy_pumps << " pumps still busy at the end";
  Json::array_t per_line;
  for (const LineOutcome& o : outcomes) {
    if (options.lines > 1) text << '\n' << line_text(o);
    per_line.push_back(line_json(o));
  }
  text << "\nlost: " << total.verdict.lost << ", duplicated: " << total.verdict.duplicated
       << ", wrong: " << total.verdict.wrong << ", crashes: " << total.crashes;
  // A line on which nothing was delivered checked nothing: "lost: 0" would say what is not so.
  std::string idle_lines;
  std::size_t idle = 0;
  for (const LineOutcome& o : outcomes) {
    if (o.completed > 0) continue;
    idle_lines += (idle++ == 0 ? " " : ", ") + std::to_string(o.line);
  }
  std::string unchecked;
  if (idle > 0) {
    unchecked =
        "no delivery was completed " +
        (idle == outcomes.size() ? std::string("at all")
                                 : "on line" + std::string(idle > 1 ? "s" : "") + idle_lines) +
        ", so nothing was checked (too many faults or too few exchanges)";
  }

  for (const std::string& detail : details) out.err() << "zarvo soak: " << detail << '\n';
  Json result{{"command", "soak"},
              {"lines", options.lines},
              {"exchanges", total.exchanges},
              {"pumps", options.pumps},
              {"seed", options.seed},
              {"seconds", seconds},
              {"faults", fault_json(options.faults, faults)},
              {"results", results_json},
              {"failures", failures_json},
              {"presets", presets},
              {"completed", total.completed},
              {"acknowledged", total.acknowledged},
              {"journaled", total.journaled},
              {"lost", total.verdict.lost},
              {"duplicated", total.verdict.duplicated},
              {"wrong", total.verdict.wrong},
              {"crashes", total.crashes},
              {"per_line", std::move(per_line)}};
  if (!unchecked.empty()) result["error"] = unchecked;
  out.result(result, text.str());
  if (!total.verdict.clean() || total.crashes > 0) return kSoakFoundFaults;
  if (!unchecked.empty()) {
    out.error("zarvo soak: " + unchecked);
    return kSoakCheckedNothing;
  }
  return 0;
}

}  // namespace zarvo::host
