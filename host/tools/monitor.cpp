#include "host/tools/monitor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>

#include "codepage/cp1251.h"
#include "host/output/pump_state.h"
#include "host/session/console.h"
#include "host/session/line_threads.h"
#include "host/tools/delivery_tracker.h"
#include "host/tools/journal.h"
#include "host/tools/release_watch.h"

namespace zarvo::host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a line on which no pump answered is searched again.
constexpr milliseconds kLookAgain{2000};
// The least pause after a refresh in which no line could exchange: lines
// that are down are waited for, never asked in a loop.
constexpr milliseconds kIdlePause{100};
constexpr std::uint32_t kPumpsOnALine = 32;

struct Row {
  std::uint32_t line = 0;
  std::uint32_t pump = 0;
  std::uint8_t state = 0;
  Delivery delivery;
  std::string error;
};

// What the monitor knows of one line. During a refresh only the line's own
// thread touches it.
struct LineWatch {
  std::vector<std::uint32_t> pumps;
  bool search = false;          // the pumps are those found, looked for again while none answer
  Clock::time_point look_at{};  // the next search
  std::vector<Row> rows;
  bool exchanged = false;  // the last refresh asked the line
  std::string down;        // why the line is down or silent; empty while pumps answer
};

// The driver's message, and for a failed exchange the port's reason with it.
std::string error_text(const zarvo::Exception& e, const SerialPort& port, std::uint32_t line,
                       bool exchange_failed) {
  std::string message = utf8_from_cp1251(e.what());
  if (message.empty()) message = "the driver refused the reply";
  if (exchange_failed) {
    if (const std::string why = port.last_error(line); !why.empty()) message += " (" + why + ")";
  }
  return message;
}

// A line whose device failed is not asked again before the port would open it.
bool may_ask(const SerialPort& port, std::uint32_t line) {
  return port.is_open(line) || Clock::now() >= port.reopen_at(line);
}

std::vector<std::uint32_t> find_pumps(Session& session, std::uint32_t line,
                                      const InterruptWatch& interrupts) {
  std::vector<std::uint32_t> found;
  for (std::uint32_t pump = 1; pump <= kPumpsOnALine; ++pump) {
    if (interrupts.interrupted() || !may_ask(session.port(), line)) break;
    try {
      session.driver().read_pump_state(line, pump);
      found.push_back(pump);
    } catch (const zarvo::Exception&) {
      // No answer: no pump at this address.
    }
  }
  return found;
}

// One line's share of a refresh, on the line's own thread. Once the device
// fails, the pumps left are not asked: they carry its reason.
std::vector<Row> sweep(Session& session, std::uint32_t line,
                       const std::vector<std::uint32_t>& pumps, const InterruptWatch& interrupts) {
  const SerialPort& port = session.port();
  std::vector<Row> rows;
  for (const std::uint32_t pump : pumps) {
    if (interrupts.interrupted()) break;
    Row row;
    row.line = line;
    row.pump = pump;
    if (!may_ask(port, line)) {
      row.error = "line down: " + port.last_error(line);
    } else {
      try {
        row.state = session.driver().poll(line, pump, 0).state;
      } catch (const zarvo::ESerialIO& e) {
        row.error = error_text(e, port, line, true);
      } catch (const zarvo::Exception& e) {
        row.error = error_text(e, port, line, false);
      }
    }
    row.delivery = session.driver().delivery(line, pump);
    rows.push_back(std::move(row));
  }
  return rows;
}

void refresh(Session& session, std::uint32_t line, LineWatch& watch,
             const InterruptWatch& interrupts) {
  const SerialPort& port = session.port();
  watch.exchanged = false;
  // A line that is down is searched as soon as the port would open it again.
  if (watch.search && watch.pumps.empty() && may_ask(port, line) &&
      (!port.is_open(line) || Clock::now() >= watch.look_at)) {
    watch.pumps = find_pumps(session, line, interrupts);
    watch.exchanged = true;
    watch.look_at = Clock::now() + kLookAgain;
  }
  if (!watch.pumps.empty() && may_ask(port, line)) watch.exchanged = true;
  watch.rows = sweep(session, line, watch.pumps, interrupts);
  if (!port.is_open(line)) {
    watch.down = "down: " + port.last_error(line);
  } else if (watch.pumps.empty()) {
    watch.down =
        "no pump answers; looking again every " + std::to_string(kLookAgain.count() / 1000) + " s";
  } else {
    watch.down.clear();
  }
}

// Until the next line may be asked: the port's back-off or the next search.
milliseconds idle_pause(const SerialPort& port, const std::map<std::uint32_t, LineWatch>& watches) {
  const auto now = Clock::now();
  auto next = now + kLookAgain;
  for (const auto& [line, watch] : watches) {
    if (!port.is_open(line)) next = std::min(next, port.reopen_at(line));
    if (watch.search && watch.pumps.empty()) next = std::min(next, watch.look_at);
  }
  return std::max(kIdlePause, std::chrono::ceil<milliseconds>(next - now));
}

void draw(const std::vector<Row>& rows, const std::map<std::uint32_t, LineWatch>& watches,
          std::size_t journaled) {
  std::printf("\x1b[H\x1b[2J%-5s %-5s %-6s %-36s %10s %10s\n", "line", "pump", "state", "meaning",
              "volume", "amount");
  for (const Row& row : rows) {
    std::printf("%-5u %-5u %-6u %-36s %10s %10s %s\n", row.line, row.pump, row.state,
                pump_state_label(row.state).c_str(), reading_text(row.delivery.volume).c_str(),
                reading_text(row.delivery.amount).c_str(), row.error.c_str());
  }
  std::printf("\n");
  for (const auto& [line, watch] : watches) {
    if (!watch.down.empty()) std::printf("line %u: %s\n", line, watch.down.c_str());
  }
  std::printf("%zu deliveries journaled. Ctrl-C ends.\n", journaled);
  std::fflush(stdout);
}

}  // namespace

void monitor(Session& session, Output& out, const MonitorOptions& options) {
  const std::vector<std::uint32_t>& lines = session.lines();
  // Two monitors on one line would both acknowledge its deliveries.
  for (const std::uint32_t line : lines) {
    if (session.port().held_elsewhere(line)) {
      throw std::runtime_error("line " + std::to_string(line) + ": " +
                               session.port().last_error(line) + ": one monitor a line");
    }
  }
  std::unique_ptr<Journal> journal;
  if (!options.journal.empty()) journal = std::make_unique<Journal>(options.journal);
  // A table read, made while the driver's exchange waits at the port.
  DeliveryGate gate(journal.get(), [&session](std::uint32_t line, std::uint32_t pump) {
    return session.driver().delivery(line, pump);
  });
  session.set_listener([&gate](const ExchangeRecord& record) { gate.observe(record); });
  session.port().set_send_gate([&gate](std::uint32_t line, std::span<const std::uint8_t> request) {
    gate.before_send(line, request);
  });
  // The hooks must not outlive the gate, however the monitor ends.
  struct Unhook {
    Session& session;
    ~Unhook() {
      session.port().set_send_gate(nullptr);
      session.set_listener(nullptr);
    }
  } unhook{session};
  // An interrupt ends the monitor before the next exchange, never inside one.
  const InterruptWatch interrupts;

  // Every line is polled on its own thread; the results are reported in line
  // order on this one. Entries exist before the threads start, so that each
  // thread only writes its own.
  std::map<std::uint32_t, LineWatch> watches;
  for (const std::uint32_t line : lines) {
    LineWatch& watch = watches[line];
    watch.search = options.pumps == 0;
    for (std::uint32_t pump = 1; pump <= options.pumps && pump <= kPumpsOnALine; ++pump) {
      watch.pumps.push_back(pump);
    }
  }
  if (options.pumps == 0) {
    out.err() << "zarvo: looking for the pumps...\n";
    for_each_line_at_once(lines, [&](std::uint32_t line) {
      LineWatch& watch = watches.at(line);
      if (may_ask(session.port(), line)) watch.pumps = find_pumps(session, line, interrupts);
      watch.look_at = Clock::now() + kLookAgain;
    });
    for (const std::uint32_t line : lines) {
      const std::size_t found = watches.at(line).pumps.size();
      out.err() << "zarvo: line " << line << ": " << found << " pumps answer"
                << (found == 0 ? "; looking again every few seconds" : "") << '\n';
    }
  }
  const bool live = !out.json() && is_terminal(StandardStream::kOutput);
  std::map<std::pair<std::uint32_t, std::uint32_t>, Row> previous;
  std::map<std::uint32_t, std::string> line_down;  // as last reported
  std::size_t journaled = 0;
  for (std::uint32_t cycle = 0; options.cycles == 0 || cycle < options.cycles; ++cycle) {
    if (interrupts.interrupted()) throw Interrupted();
    for_each_line_at_once(
        lines, [&](std::uint32_t line) { refresh(session, line, watches.at(line), interrupts); });
    // A line that goes down or comes up is one event; its pumps are reported
    // again once it is up.
    for (const auto& [line, watch] : watches) {
      const bool was_down = !line_down[line].empty();
      if (was_down != !watch.down.empty() && !live) {
        Json event{{"event", "line"}, {"line", line}, {"up", watch.down.empty()}};
        std::string text = "line " + std::to_string(line) + ": ";
        if (watch.down.empty()) {
          event["pumps"] = watch.pumps.size();
          text += "up, " + std::to_string(watch.pumps.size()) + " pumps";
        } else {
          event["error"] = watch.down;
          text += watch.down;
        }
        out.result(event, text);
      }
      line_down[line] = watch.down;
    }
    for (const JournalEntry& e : gate.take_written()) {
      ++journaled;
      if (!live) show_released(out, e, session.settings().sum_decimals);
    }
    std::vector<Row> rows;
    for (auto& [line, watch] : watches) {
      for (Row& row : watch.rows) {
        const auto key = std::make_pair(line, row.pump);
        if (!watch.down.empty()) {
          previous.erase(key);
        } else {
          const auto before = previous.find(key);
          const bool changed = before == previous.end() || before->second.state != row.state ||
                               before->second.error != row.error;
          if (changed && !live) {
            Json event = Json{{"event", "state"},
                              {"line", line},
                              {"pump", row.pump},
                              {"state", row.state},
                              {"label", pump_state_label(row.state)}};
            if (!row.error.empty()) event["error"] = row.error;
            out.result(event, "line " + std::to_string(line) + " pump " + std::to_string(row.pump) +
                                  ": " +
                                  (row.error.empty() ? std::to_string(row.state) + " (" +
                                                           pump_state_label(row.state) + ")"
                                                     : row.error));
          }
          previous[key] = row;
        }
        rows.push_back(row);
      }
    }
    if (live) draw(rows, watches, journaled);
    const bool last = options.cycles != 0 && cycle + 1 >= options.cycles;
    if (last) break;
    milliseconds pause(options.interval_ms);
    if (std::ranges::none_of(watches, [](const auto& entry) { return entry.second.exchanged; })) {
      pause = std::max(pause, idle_pause(session.port(), watches));
    }
    if (interrupts.wait(static_cast<std::uint32_t>(pause.count()))) throw Interrupted();
  }
}

}  // namespace zarvo::host
