// The station's commands: each runs the host command of the same name on the
// line's worker, so a result reads as `zarvo --json` shows it.
#pragma once

#include <cstdint>

#include "host/commands/commands.h"
#include "host/station/station.h"

namespace zarvo::host {

Command price_command(PumpTarget target, std::uint32_t nozzle, double price);
Command preset_command(PumpTarget target, std::uint32_t nozzle, wire::PresetKind kind,
                       double value);
Command stop_command(PumpTarget target);
Command stop_all_command(std::uint32_t line);
Command totals_command(PumpTarget target, std::uint32_t nozzle);
Command read_param_command(PumpTarget target, std::int32_t number);
Command write_param_command(PumpTarget target, std::int32_t number, std::int32_t value);

}  // namespace zarvo::host
