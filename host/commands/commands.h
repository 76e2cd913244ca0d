// The host's commands on one session: each runs driver operations and
// reports one result. Failures are thrown (zarvo::Exception from the driver).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/output/output.h"
#include "host/session/session.h"
#include "protocol/wire.h"

namespace zarvo::host {

struct PumpTarget {
  std::uint32_t line = 1;
  std::uint32_t pump = 1;
};

// A command that asks a pump for its state may end a delivery: the delivery
// is shown first, and written to the journal at `journal` when one is given.
void show_info(Session& session, Output& out);
void show_status(Session& session, Output& out, PumpTarget target, const std::string& journal = {});
void poll_pump(Session& session, Output& out, PumpTarget target, std::uint32_t nozzles,
               const std::string& journal = {});
void set_price(Session& session, Output& out, PumpTarget target, std::uint32_t nozzle,
               double price);
void preset(Session& session, Output& out, wire::PresetKind kind, PumpTarget target,
            std::uint32_t nozzle, double value);
// Asks the pump first: the running delivery, or the one that just ended.
void show_delivery(Session& session, Output& out, PumpTarget target,
                   const std::string& journal = {});
void stop_pump(Session& session, Output& out, PumpTarget target);
void stop_all(Session& session, Output& out, std::uint32_t line);
void show_totals(Session& session, Output& out, PumpTarget target, std::uint32_t nozzle);
void read_param(Session& session, Output& out, PumpTarget target, std::int32_t number);
void write_param(Session& session, Output& out, PumpTarget target, std::int32_t number,
                 std::int32_t value);

struct FuelOrder {
  PumpTarget target;
  std::uint32_t nozzle = 1;
  std::optional<double> amount;
  std::optional<double> volume;
  std::optional<double> price;
  std::uint32_t interval_ms = 100;  // between polls
  std::uint32_t timeout_s = 600;    // for the whole delivery
  std::string journal;              // SQLite file the delivery goes into; empty for none
};
// Prices, presets and follows the delivery to its end with a progress bar.
// Whatever ends it early (Ctrl-C, the timeout, a pump that never starts, a
// failing line, a fault) stops the pump and follows the delivery to its end
// first, shows what was delivered, and then fails (Interrupted on Ctrl-C).
void fuel(Session& session, Output& out, const FuelOrder& order);

}  // namespace zarvo::host
