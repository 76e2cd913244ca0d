#include "host/tools/monitor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <tuple>
#include <utility>
#include <vector>

#include "host/output/pump_state.h"
#include "host/session/console.h"
#include "host/station/station.h"
#include "host/tools/journal.h"
#include "host/tools/release_watch.h"

namespace zarvo::host {

namespace {

using std::chrono::milliseconds;

// How often the view looks for an interrupt while it waits for the lines.
constexpr milliseconds kLookForInterrupt{50};

void draw(const std::vector<LineView>& lines, std::size_t journaled) {
  std::printf("\x1b[H\x1b[2J%-5s %-5s %-6s %-36s %10s %10s\n", "line", "pump", "state", "meaning",
              "volume", "amount");
  for (const LineView& line : lines) {
    for (const PumpView& row : line.pumps) {
      std::printf("%-5u %-5u %-6u %-36s %10s %10s %s\n", row.line, row.pump, row.state,
                  pump_state_label(row.state).c_str(), reading_text(row.delivery.volume).c_str(),
                  reading_text(row.delivery.amount).c_str(), row.error.c_str());
    }
  }
  std::printf("\n");
  for (const LineView& line : lines) {
    if (!line.down.empty()) std::printf("line %u: %s\n", line.line, line.down.c_str());
  }
  std::printf("%zu deliveries journaled. Ctrl-C ends.\n", journaled);
  std::fflush(stdout);
}

// The order the monitor reports a refresh in: lines, deliveries, states;
// other events are not the monitor's.
int report_rank(const Json& event) {
  const std::string kind = event.value("event", "");
  if (kind == "line") return 0;
  if (kind == "delivery") return 1;
  if (kind == "state") return 2;
  return -1;
}

std::string event_text(const Json& e) {
  const std::string kind = e.value("event", "");
  const std::string line = "line " + std::to_string(e.value("line", 0U));
  const std::string pump = line + " pump " + std::to_string(e.value("pump", 0U)) + ": ";
  if (kind == "line") {
    return line + ": " +
           (e.value("up", false) ? "up, " + std::to_string(e.value("pumps", 0U)) + " pumps"
                                 : e.value("error", std::string()));
  }
  const auto state = e.value("state", std::uint8_t{0});
  return pump + (e.contains("error")
                     ? e.value("error", std::string())
                     : std::to_string(state) + " (" + pump_state_label(state) + ")");
}

JournalEntry journal_entry(const Json& delivery) {
  return JournalEntry{delivery.value("line", 0U), delivery.value("pump", 0U),
                      delivery.value("transaction", 0U), delivery.value("volume", 0.0),
                      delivery.value("amount", 0.0)};
}

// Waits until every line has completed `sweeps` or ended; an interrupt stops
// the station, whose workers end after their current exchange.
void await(Station& station, std::uint64_t sweeps, const InterruptWatch& interrupts) {
  while (!station.wait_for_sweeps(sweeps, kLookForInterrupt)) {
    if (interrupts.interrupted()) station.stop();
  }
}

}  // namespace

void monitor(Session& session, Output& out, const MonitorOptions& options) {
  // An interrupt ends the monitor before the next exchange, never inside one.
  const InterruptWatch interrupts;
  StationOptions polling;
  polling.pumps = options.pumps;
  polling.interval = milliseconds(options.interval_ms);
  polling.sweeps = options.cycles;
  polling.journal = options.journal;
  polling.interrupted = [&interrupts] { return interrupts.interrupted(); };
  Station station(session, polling);
  if (options.pumps == 0) {
    out.err() << "zarvo: looking for the pumps...\n";
    while (!station.wait_ready(kLookForInterrupt)) {
      if (interrupts.interrupted()) station.stop();
    }
    for (const LineView& line : station.lines()) {
      const std::size_t found = line.pumps.size();
      out.err() << "zarvo: line " << line.line << ": " << found << " pumps answer"
                << (found == 0 ? "; looking again every few seconds" : "") << '\n';
    }
  }
  const bool live = !out.json() && is_terminal(StandardStream::kOutput);
  // Each refresh comes once every line has swept again, and reports all that
  // happened since, sweep by sweep in line order: a line that sweeps faster
  // than another (fewer pumps, or the other down) is never reported late.
  std::uint64_t seen = 0;
  std::size_t journaled = 0;
  for (std::uint64_t cycle = 1; options.cycles == 0 || cycle <= options.cycles; ++cycle) {
    await(station, cycle, interrupts);
    std::vector<StationEvent> due;
    for (StationEvent& event : station.events().after(seen)) {
      seen = event.id;
      if (report_rank(event.body) >= 0) due.push_back(std::move(event));
    }
    std::stable_sort(due.begin(), due.end(), [](const StationEvent& a, const StationEvent& b) {
      return std::tuple(a.sweep, report_rank(a.body), a.line) <
             std::tuple(b.sweep, report_rank(b.body), b.line);
    });
    for (const StationEvent& event : due) {
      if (event.body.value("event", "") == "delivery") {
        ++journaled;
        if (!live) show_released(out, journal_entry(event.body), session.settings().sum_decimals);
      } else if (!live) {
        out.result(event.body, event_text(event.body));
      }
    }
    if (live) draw(station.lines(), journaled);
    if (station.ended()) {
      if (interrupts.interrupted()) throw Interrupted();
      break;
    }
  }
}

}  // namespace zarvo::host
