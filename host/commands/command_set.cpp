#include "host/commands/command_set.h"

#include "host/commands/shell.h"

namespace zarvo::host {

CommandSet::CommandSet(CLI::App& app, bool top_level, std::istream& in) {
  add_pump_commands(app, pump_, choice_);
  add_delivery_commands(app, pump_, fuel_, choice_);
  add_param_commands(app, pump_, param_, choice_);
  add_info_command(app, choice_);
  add_monitor_command(app, monitor_, choice_);
  if (!top_level) return;
  add_soak_command(app, soak_, choice_);
  add_settings_command(app, choice_);
  add_shell_command(app, in, choice_);
  add_demo_command(app, choice_);
  add_bench_command(app, bench_, choice_);
  add_journal_command(app, journal_, choice_);
  add_serve_command(app, serve_, choice_);
}

void CommandSet::reset() {
  choice_ = {};
  pump_ = {};
  fuel_ = {};
  param_ = {};
  monitor_ = {};
  soak_ = {};
  bench_ = {};
  journal_ = {};
}

}  // namespace zarvo::host
