// The commands that run longer than one exchange: info, monitor, soak,
// settings, demo, bench, journal and serve.
#pragma once

#include <CLI/CLI.hpp>

#include "host/commands/command.h"
#include "host/serve/serve.h"
#include "host/soak/soak.h"
#include "host/tools/bench.h"
#include "host/tools/journal_list.h"
#include "host/tools/monitor.h"

namespace zarvo::host {

void add_info_command(CLI::App& app, Choice& choice);
void add_monitor_command(CLI::App& app, MonitorOptions& options, Choice& choice);
void add_soak_command(CLI::App& app, SoakOptions& options, Choice& choice);
void add_settings_command(CLI::App& app, Choice& choice);
void add_demo_command(CLI::App& app, Choice& choice);
void add_bench_command(CLI::App& app, BenchOptions& options, Choice& choice);
void add_journal_command(CLI::App& app, JournalListOptions& options, Choice& choice);
void add_serve_command(CLI::App& app, ServeOptions& options, Choice& choice);

}  // namespace zarvo::host
