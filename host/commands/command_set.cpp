#include "host/commands/command_set.h"

#include "host/commands/shell.h"

namespace zarvo::host {

CommandSet::CommandSet(CLI::App& app, bool top_level, std::istream& in) {
  add_pump_commands(app, parsed_.pump, parsed_.choice);
  add_delivery_commands(app, parsed_.pump, parsed_.fuel, parsed_.choice);
  add_param_commands(app, parsed_.pump, parsed_.param, parsed_.choice);
  add_info_command(app, parsed_.choice);
  add_monitor_command(app, parsed_.monitor, parsed_.choice);
  if (!top_level) return;
  add_soak_command(app, parsed_.soak, parsed_.choice);
  add_settings_command(app, parsed_.choice);
  add_shell_command(app, in, parsed_.choice);
  add_demo_command(app, parsed_.choice);
  add_bench_command(app, parsed_.bench, parsed_.choice);
  add_journal_command(app, parsed_.journal, parsed_.choice);
  add_serve_command(app, parsed_.serve, parsed_.choice);
}

void CommandSet::reset() {
  parsed_ = {};
}

}  // namespace zarvo::host
