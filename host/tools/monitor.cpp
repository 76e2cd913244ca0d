#include "host/tools/monitor.h"

#include <cstdio>
#include <ctime>
#include <map>
#include <memory>

#include "codepage/cp1251.h"
#include "host/output/pump_state.h"
#include "host/session/console.h"
#include "host/session/line_threads.h"
#include "host/tools/delivery_tracker.h"
#include "host/tools/journal.h"

namespace zarvo::host {

namespace {

struct Row {
  std::uint32_t line = 0;
  std::uint32_t pump = 0;
  std::uint8_t state = 0;
  Delivery delivery;
  std::string error;
};

std::string error_text(const zarvo::Exception& e) {
  const std::string message = utf8_from_cp1251(e.what());
  return message.empty() ? std::string("the driver refused the reply") : message;
}

std::vector<std::uint32_t> find_pumps(const Driver& driver, std::uint32_t line) {
  std::vector<std::uint32_t> found;
  for (std::uint32_t pump = 1; pump <= 32; ++pump) {
    try {
      driver.read_pump_state(line, pump);
      found.push_back(pump);
    } catch (const zarvo::Exception&) {
      // No answer: no pump at this address.
    }
  }
  return found;
}

// One line's share of a refresh, on the line's own thread.
std::vector<Row> sweep(const Driver& driver, std::uint32_t line,
                       const std::vector<std::uint32_t>& pumps) {
  std::vector<Row> rows;
  for (const std::uint32_t pump : pumps) {
    Row row;
    row.line = line;
    row.pump = pump;
    try {
      row.state = driver.poll(line, pump, 0).state;
    } catch (const zarvo::Exception& e) {
      row.error = error_text(e);
    }
    row.delivery = driver.delivery(line, pump);
    rows.push_back(std::move(row));
  }
  return rows;
}

void draw(const std::vector<Row>& rows, std::size_t journaled) {
  std::printf("\x1b[H\x1b[2J%-5s %-5s %-6s %-36s %10s %10s\n", "line", "pump", "state", "meaning",
              "volume", "amount");
  for (const Row& row : rows) {
    std::printf("%-5u %-5u %-6u %-36s %10.2f %10.2f %s\n", row.line, row.pump, row.state,
                pump_state_label(row.state).c_str(), row.delivery.volume, row.delivery.amount,
                row.error.c_str());
  }
  std::printf("\n%zu deliveries journaled. Ctrl-C ends.\n", journaled);
  std::fflush(stdout);
}

}  // namespace

void monitor(Session& session, Output& out, const MonitorOptions& options) {
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
  // Interrupts end the monitor between two refreshes, not in an exchange.
  const InterruptWatch interrupts;

  // Every line is polled on its own thread; the results are reported in line
  // order on this one. Keys exist before the threads start, so that each
  // thread only writes its own entry.
  const std::vector<std::uint32_t>& lines = session.lines();
  std::map<std::uint32_t, std::vector<std::uint32_t>> pumps;
  std::map<std::uint32_t, std::vector<Row>> sweeps;
  for (const std::uint32_t line : lines) {
    pumps[line];
    sweeps[line];
    for (std::uint32_t pump = 1; pump <= options.pumps && pump <= 32; ++pump) {
      pumps[line].push_back(pump);
    }
  }
  if (options.pumps == 0) {
    out.err() << "zarvo: looking for the pumps...\n";
    for_each_line_at_once(
        lines, [&](std::uint32_t line) { pumps.at(line) = find_pumps(session.driver(), line); });
    for (const std::uint32_t line : lines) {
      out.err() << "zarvo: line " << line << ": " << pumps.at(line).size() << " pumps answer\n";
    }
  }
  const bool live = !out.json() && is_terminal(StandardStream::kOutput);
  std::map<std::pair<std::uint32_t, std::uint32_t>, Row> previous;
  std::size_t journaled = 0;
  for (std::uint32_t cycle = 0; options.cycles == 0 || cycle < options.cycles; ++cycle) {
    for_each_line_at_once(lines, [&](std::uint32_t line) {
      sweeps.at(line) = sweep(session.driver(), line, pumps.at(line));
    });
    for (const JournalEntry& e : gate.take_written()) {
      ++journaled;
      if (live) continue;
      char text[128];
      std::snprintf(text, sizeof text, "line %u pump %u: transaction %u ended, %.2f l for %.2f",
                    e.line, e.pump, e.transaction, e.volume, e.amount);
      out.result(Json{{"event", "delivery"},
                      {"line", e.line},
                      {"pump", e.pump},
                      {"transaction", e.transaction},
                      {"volume", e.volume},
                      {"amount", e.amount}},
                 text);
    }
    std::vector<Row> rows;
    for (auto& [line, line_rows] : sweeps) {
      for (Row& row : line_rows) {
        const std::uint32_t pump = row.pump;
        const auto key = std::make_pair(line, pump);
        const auto before = previous.find(key);
        const bool changed = before == previous.end() || before->second.state != row.state ||
                             before->second.error != row.error;
        if (changed && !live) {
          Json event = Json{{"event", "state"},
                            {"line", line},
                            {"pump", pump},
                            {"state", row.state},
                            {"label", pump_state_label(row.state)}};
          if (!row.error.empty()) event["error"] = row.error;
          out.result(event,
                     "line " + std::to_string(line) + " pump " + std::to_string(pump) + ": " +
                         (row.error.empty()
                              ? std::to_string(row.state) + " (" + pump_state_label(row.state) + ")"
                              : row.error));
        }
        previous[key] = row;
        rows.push_back(std::move(row));
      }
    }
    if (live) draw(rows, journaled);
    const bool last = options.cycles != 0 && cycle + 1 >= options.cycles;
    if (!last && interrupts.wait(options.interval_ms)) throw Interrupted();
  }
}

}  // namespace zarvo::host
