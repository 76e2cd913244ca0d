#include "host/tools/bench.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <barrier>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/commands/checks.h"
#include "host/session/builtin_sim.h"
#include "host/session/line_threads.h"
#include "serial/serial_device.h"

namespace zarvo::host {

namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// Start bit, eight data bits, stop bit.
constexpr double kBitsPerByte = 10;

// What the port saw of one line's exchanges while the clock ran.
struct WireTally {
  std::uint64_t bytes = 0;    // sent, received and skipped as noise
  std::uint64_t replies = 0;  // exchanges that drew a reply, each after one turnaround
  std::map<PortResult, std::uint64_t> failures;  // the port's reasons
};

struct LineRun {
  std::uint64_t polls = 0;
  std::uint64_t failures = 0;
  std::string died;  // why the line's device failed; the line was polled no more
  Clock::duration elapsed{};
  std::vector<Clock::duration> passes;  // since the common start, the end of each pass
  WireTally wire;
};

struct LineFigures {
  std::uint32_t line = 0;
  double polls_per_second = 0;
  double limit_per_second = 0;  // every exchange in exactly its time on the wire
  double bytes_per_poll = 0;
  double ratio = 0;
  double wire_seconds_per_poll = 0;
};

double rounded(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

// Polls pumps 1..P round and round from the common start until the deadline,
// or until the line's device fails: a dead line has no speed to measure.
void poll_line(Session& session, std::uint32_t line, std::uint32_t pumps, Clock::time_point start,
               Clock::time_point deadline, LineRun& run) {
  for (;;) {
    for (std::uint32_t pump = 1; pump <= pumps; ++pump) {
      try {
        session.driver().poll(line, pump, 0);
        ++run.polls;
      } catch (const zarvo::Exception&) {
        ++run.failures;
        if (!session.port().is_open(line)) run.died = session.port().last_error(line);
      }
      const auto now = Clock::now();
      run.elapsed = now - start;
      if (now >= deadline || !run.died.empty()) return;
    }
    run.passes.push_back(run.elapsed);
  }
}

LineFigures figures_of(std::uint32_t line, const LineRun& run, std::uint32_t baud,
                       std::chrono::milliseconds turnaround) {
  LineFigures f;
  f.line = line;
  const double elapsed = Seconds(run.elapsed).count();
  const double wire = static_cast<double>(run.wire.bytes) * kBitsPerByte / baud +
                      static_cast<double>(run.wire.replies) * Seconds(turnaround).count();
  const auto polls = static_cast<double>(run.polls);
  if (elapsed > 0) {
    f.polls_per_second = polls / elapsed;
    f.ratio = wire / elapsed;
  }
  if (polls > 0 && wire > 0) {
    f.limit_per_second = polls / wire;
    f.bytes_per_poll = static_cast<double>(run.wire.bytes) / polls;
    f.wire_seconds_per_poll = wire / polls;
  }
  return f;
}

}  // namespace

CLI::App* add_bench_options(CLI::App& app, BenchOptions& options) {
  auto* command = app.add_subcommand(
      "bench",
      "poll every pump of every line at once, against the line limit: N built-in simulated "
      "lines, or the lines given with --line N=DEVICE (repeatable)");
  command
      ->add_option("--baud", options.baud,
                   "the lines' speed (real lines: as the driver opens them)")
      ->check(CLI::IsMember(serial::kBaudRates))
      ->capture_default_str();
  command->add_option("--lines", options.lines, "simulated lines polled at once, one thread each")
      ->transform(between(1, 40))
      ->capture_default_str();
  command->add_option("--pumps", options.pumps, "pumps on each line")
      ->transform(between(1, 32))
      ->capture_default_str();
  command->add_option("--seconds", options.seconds, "how long to poll")
      ->transform(between(0.1, 3600.0))
      ->capture_default_str();
  command
      ->add_option_function<std::uint32_t>(
          "--turnaround",
          [&options](std::uint32_t ms) { options.turnaround = std::chrono::milliseconds(ms); },
          "milliseconds from a request to its reply: the simulators' (default: theirs), or "
          "the dispensers' counted in a real line's limit (default 0)")
      ->transform(between(0, 1000));
  return command;
}

namespace {

// Polls every line on its own thread, after one untimed poll of every pump.
std::array<LineRun, kLastLine> measure(Session& session, const BenchOptions& options) {
  const Driver& driver = session.driver();
  const std::vector<std::uint32_t>& lines = session.lines();
  std::array<LineRun, kLastLine> runs{};
  // A line that did not open at the start is not polled at all.
  for (const std::uint32_t line : lines) {
    if (!session.port().is_open(line)) runs[line - 1].died = session.port().last_error(line);
  }
  // The first poll of a pump programs its parameters: not part of the figures.
  for_each_line_at_once(lines, [&](std::uint32_t line) {
    for (std::uint32_t pump = 1; pump <= options.pumps && runs[line - 1].died.empty(); ++pump) {
      try {
        driver.poll(line, pump, 0);
      } catch (const zarvo::Exception&) {
        // Counted when it happens again while the clock runs.
      }
    }
  });

  // Each line's tally is written only by the thread that exchanges on it.
  session.set_listener([&runs](const ExchangeRecord& record) {
    WireTally& tally = runs[record.line - 1].wire;
    if (!record.transmitted) return;
    tally.bytes += record.sent.size() + record.received.size() + record.skipped;
    if (!record.received.empty()) ++tally.replies;
    if (record.result != PortResult::kOk) ++tally.failures[record.result];
  });
  Clock::time_point start;
  std::barrier ready(static_cast<std::ptrdiff_t>(lines.size()),
                     [&start]() noexcept { start = Clock::now(); });
  const auto duration = std::chrono::duration_cast<Clock::duration>(Seconds(options.seconds));
  for_each_line_at_once(lines, [&](std::uint32_t line) {
    ready.arrive_and_wait();
    if (runs[line - 1].died.empty())
      poll_line(session, line, options.pumps, start, start + duration, runs[line - 1]);
  });
  session.set_listener(nullptr);
  return runs;
}

// Prints one line's figures and returns them for the JSON object.
Json report_line(Output& out, const LineRun& run, const LineFigures& f,
                 std::chrono::milliseconds turnaround) {
  std::string text = "line " + std::to_string(f.line) + ": " + fixed(f.polls_per_second, 1) +
                     " polls/s, limit " + fixed(f.limit_per_second, 1) + " (" +
                     fixed(f.bytes_per_poll, 1) + " bytes and " +
                     std::to_string(turnaround.count()) + " ms turnaround a poll), " +
                     fixed(f.ratio, 3) + " of the limit";
  Json reasons = Json::object();
  std::string reason_text;
  for (const auto& [result, count] : run.wire.failures) {
    reasons[describe(result)] = count;
    reason_text +=
        (reason_text.empty() ? "" : ", ") + std::to_string(count) + " " + describe(result);
  }
  if (run.failures > 0) {
    text += ", " + std::to_string(run.failures) + (run.failures == 1 ? " poll" : " polls") +
            " failed (" + reason_text + ")";
  }
  if (!run.died.empty()) text += "; the line failed: " + run.died;
  out.note(text);
  Json figures{{"line", f.line},
               {"polls", run.polls},
               {"failed", run.failures},
               {"failed_exchanges", std::move(reasons)},
               {"polls_per_second", rounded(f.polls_per_second, 2)},
               {"limit_per_second", rounded(f.limit_per_second, 2)},
               {"bytes_per_poll", rounded(f.bytes_per_poll, 2)},
               {"ratio", rounded(f.ratio, 4)}};
  if (!run.died.empty()) figures["error"] = run.died;
  return figures;
}

// The station's cycle: all pumps of all lines once. Cycle k of the station
// ends when the slowest line ends its k-th pass over its pumps.
void report_cycle(Output& out, Json& result, const std::vector<std::uint32_t>& lines,
                  const std::array<LineRun, kLastLine>& runs, const BenchOptions& options,
                  double single_cycle_ms) {
  std::size_t cycles = SIZE_MAX;
  for (const std::uint32_t line : lines) cycles = std::min(cycles, runs[line - 1].passes.size());
  result["single_line_cycle_ms"] = rounded(single_cycle_ms, 3);
  if (cycles == 0) {
    result["full_cycle_ms"] = nullptr;
    result["full_cycles"] = 0;
    result["cycle_ratio"] = nullptr;
    out.note("full cycle: none completed in " + fixed(options.seconds, 1) +
             " s; single-line cycle at the limit " + fixed(single_cycle_ms, 1) + " ms");
    return;
  }
  Clock::duration last_end{};
  for (const std::uint32_t line : lines) {
    last_end = std::max(last_end, runs[line - 1].passes[cycles - 1]);
  }
  const double full_cycle_ms =
      std::chrono::duration<double, std::milli>(last_end).count() / static_cast<double>(cycles);
  const double ratio = single_cycle_ms > 0 ? full_cycle_ms / single_cycle_ms : 0;
  result["full_cycle_ms"] = rounded(full_cycle_ms, 3);
  result["full_cycles"] = cycles;
  result["cycle_ratio"] = rounded(ratio, 4);
  out.note("full cycle (" + std::to_string(lines.size() * options.pumps) +
           " pumps): " + fixed(full_cycle_ms, 1) + " ms over " + std::to_string(cycles) +
           " cycles; single-line cycle at the limit " + fixed(single_cycle_ms, 1) + " ms; " +
           fixed(ratio, 3) + " times");
}

}  // namespace

int bench(const SessionOptions& base, Output& out, const BenchOptions& options) {
  const bool simulated = base.lines.empty();
  if (!simulated && options.lines != 1) {
    throw std::invalid_argument("--lines counts simulated lines: with --line, leave it out");
  }
  SessionOptions session_options = base;
  std::vector<std::unique_ptr<BuiltinSimulator>> simulators;
  // Real lines: the dispensers' turnaround is not known; counted only when given.
  std::chrono::milliseconds turnaround = options.turnaround.value_or(std::chrono::milliseconds(0));
  if (simulated) {
    // Fault-free lines at the simulator's own speeds, unless told otherwise.
    sim::Options& sim = session_options.simulator;
    sim = sim::Options{};
    sim.link.pacing = base.simulator.link.pacing;
    sim.link.baud = static_cast<int>(options.baud);
    sim.model.pumps = static_cast<int>(options.pumps);
    if (options.turnaround) sim.link.turnaround = *options.turnaround;
    simulators = bind_simulated_lines(session_options, options.lines);
    turnaround = simulators.front()->options().link.turnaround;
  }
  const std::size_t line_count = session_options.lines.size();
  out.err() << "zarvo bench: " << line_count << (simulated ? " simulated" : "")
            << (line_count == 1 ? " line x " : " lines x ") << options.pumps << " pumps at "
            << options.baud << " baud for " << options.seconds << " s, turnaround "
            << turnaround.count() << " ms\n";
  Session session(session_options, out.err());
  const std::array<LineRun, kLastLine> runs = measure(session, options);

  Json::array_t per_line;
  double worst = 1e9;
  double wire_per_poll = 0;
  std::string silent_lines;
  std::vector<std::string> dead_lines;
  const std::vector<std::uint32_t>& lines = session.lines();
  for (const std::uint32_t line : lines) {
    const LineRun& run = runs[line - 1];
    const LineFigures f = figures_of(line, run, options.baud, turnaround);
    worst = std::min(worst, f.ratio);
    wire_per_poll += f.wire_seconds_per_poll / static_cast<double>(lines.size());
    if (run.polls == 0) silent_lines += " " + std::to_string(line);
    if (!run.died.empty()) {
      dead_lines.push_back("line " + std::to_string(line) + ": " + run.died +
                           (run.polls > 0 ? "; the figures cover the time before" : ""));
    }
    per_line.push_back(report_line(out, run, f, turnaround));
  }
  Json result = Json{{"command", "bench"},
                     {"baud", options.baud},
                     {"lines", lines.size()},
                     {"simulated", simulated},
                     {"pumps", options.pumps},
                     {"seconds", options.seconds},
                     {"turnaround_ms", turnaround.count()},
                     {"per_line", std::move(per_line)}};
  report_cycle(out, result, lines, runs, options, wire_per_poll * options.pumps * 1000);
  result["utilization"] = rounded(worst, 4);
  out.result(result, "utilization: " + fixed(worst, 2) + " of the line limit");
  for (const std::string& dead : dead_lines) {
    out.err() << "zarvo bench: " << dead << '\n';
  }
  if (!dead_lines.empty()) return 1;
  if (!silent_lines.empty()) {
    out.err() << "zarvo bench: no poll succeeded on line" << silent_lines << '\n';
    return 1;
  }
  return 0;
}

}  // namespace zarvo::host
