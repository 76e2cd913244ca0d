// The commands on one pump or one line: status, poll, price, stop, stop-all,
// totals, preset, delivery, fuel and param get/set. They run the functions of
// commands.h on the session.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "host/commands/command.h"
#include "host/commands/commands.h"

namespace zarvo::host {

struct PumpArgs {
  PumpTarget target;
  std::uint32_t nozzle = 1;
  std::uint32_t nozzles = 0;
  double value = 0;
  std::string kind;
  std::string journal;
};

struct FuelArgs {
  FuelOrder order;
  double amount = 0;
  double volume = 0;
  std::vector<double> price;
};

struct ParamArgs {
  std::int32_t number = 0;
  std::int32_t value = 0;
};

void add_pump_commands(CLI::App& app, PumpArgs& args, Choice& choice);
// preset and delivery share the pump's arguments; fuel has its own besides.
void add_delivery_commands(CLI::App& app, PumpArgs& args, FuelArgs& fuel_args, Choice& choice);
void add_param_commands(CLI::App& app, PumpArgs& args, ParamArgs& param_args, Choice& choice);

}  // namespace zarvo::host
