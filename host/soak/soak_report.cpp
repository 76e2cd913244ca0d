#include "host/soak/soak_report.h"

#include <cstdio>
#include <map>
#include <sstream>
#include <string>

#include "host/soak/fault_profile.h"
#include "host/soak/record_check.h"

namespace zarvo::host {

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

}  // namespace

int report_soak(Output& out, const SoakOptions& options, double seconds,
                const std::vector<SoakedLine>& lines, const std::vector<JournalEntry>& journaled) {
  // Each line is held against its own simulator; the totals are the sums.
  std::vector<LineOutcome> outcomes;
  LineOutcome total;
  std::map<PortResult, std::uint64_t> results;
  std::map<std::string, std::uint64_t> failures;
  std::uint64_t strays = 0;
  std::uint64_t presets = 0;
  std::uint64_t not_started = 0;
  std::vector<std::string> details;
  for (const SoakedLine& line : lines) {
    const LineSoak& run = line.run;
    outcomes.push_back(outcome_of(run, line.simulator, journaled));
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
      if (details.size() < kSoakDetailsShown) details.push_back(detail);
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
       << describe_faults(lines.front().simulator.options().faults) << "): " << faults.corrupted
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
