#include "host/commands/tool_commands.h"

#include "host/commands/checks.h"
#include "host/commands/commands.h"
#include "host/commands/scenes.h"

namespace zarvo::host {

void add_info_command(CLI::App& app, Choice& choice) {
  auto* info = app.add_subcommand("info", "the driver's name, capabilities and the lines");
  choose(info, choice, [](Session& s, Output& o) { show_info(s, o); });
}

void add_monitor_command(CLI::App& app, MonitorOptions& options, Choice& choice) {
  auto* mon = app.add_subcommand("monitor",
                                 "live table of every pump, lines polled at once, with a journal");
  mon->add_option("--journal", options.journal, "SQLite file recording each delivery once");
  mon->add_option("--pumps", options.pumps, "pumps 1..N on each line (0: find them)")
      ->transform(between(0, 32));
  mon->add_option("--interval", options.interval_ms, "milliseconds between refreshes")
      ->transform(between(0, 60000));
  mon->add_option("--count", options.cycles, "refreshes before ending (0: until Ctrl-C)");
  choose(mon, choice, [&options](Session& s, Output& o) { monitor(s, o, options); });
}

void add_soak_command(CLI::App& app, SoakOptions& options, Choice& choice) {
  auto* cmd = app.add_subcommand(
      "soak",
      "deliveries on N built-in simulated lines at once with line faults, each line checked "
      "against its simulator's record");
  cmd->add_option("--exchanges", options.exchanges,
                  "exchanges on each line before its last deliveries end")
      ->transform(between(1, 100e6));
  cmd->add_option("--faults", options.faults,
                  "none, default (5 % corrupted, 2 % dropped, 1 % silent), harsh (also noise "
                  "and late replies), then key=percent: corrupt, drop, silent, noise, late; "
                  "silent-ms, late-ms; e.g. default,noise=2");
  cmd->add_option("--seed", options.seed, "seed of the faults and the deliveries");
  cmd->add_option("--journal", options.journal, "SQLite journal file (default: in memory)");
  cmd->add_option("--pumps", options.pumps, "pumps 1..N on each line")->transform(between(1, 32));
  cmd->add_option("--lines", options.lines, "simulated lines driven at once, one thread each")
      ->transform(between(1, 40))
      ->capture_default_str();
  cmd->callback([&options, &choice] {
    choice.soak = &options;
    choice.standalone = [&options](const SessionOptions& s, Output& o) {
      return soak(s, o, options);
    };
  });
}

void add_settings_command(CLI::App& app, Choice& choice) {
  auto* settings =
      app.add_subcommand("settings", "open the driver's settings dialog through its menu entry");
  settings->callback([&choice] { choice.standalone = open_settings; });
}

void add_demo_command(CLI::App& app, Choice& choice) {
  auto* demo_cmd = app.add_subcommand("demo", "a full fuelling cycle, explained step by step");
  choose(demo_cmd, choice, [](Session& s, Output& o) { demo(s, o); });
}

void add_bench_command(CLI::App& app, BenchOptions& options, Choice& choice) {
  add_bench_options(app, options)->callback([&options, &choice] {
    choice.standalone = [&options](const SessionOptions& s, Output& out) {
      return bench(s, out, options);
    };
  });
}

void add_journal_command(CLI::App& app, JournalListOptions& options, Choice& choice) {
  add_journal_options(app, options)->callback([&options, &choice] {
    choice.standalone = [&options](const SessionOptions&, Output& out) {
      return list_journal(out, options);
    };
  });
}

void add_serve_command(CLI::App& app, ServeOptions& options, Choice& choice) {
  add_serve_options(app, options)->callback([&options, &choice] {
    choice.standalone = [&options](const SessionOptions& s, Output& out) {
      return serve(s, out, options);
    };
  });
}

}  // namespace zarvo::host
