// Every subcommand of `zarvo` and the storage its arguments parse into. The
// shell parses every line it reads with one set, reset between lines.
#pragma once

#include <CLI/CLI.hpp>

#include <istream>

#include "host/commands/command.h"
#include "host/commands/pump_commands.h"
#include "host/commands/tool_commands.h"

namespace zarvo::host {

class CommandSet {
 public:
  // The top level adds the commands that the shell cannot run inside itself.
  CommandSet(CLI::App& app, bool top_level, std::istream& in);
  // The subcommands' callbacks hold references into this object.
  CommandSet(const CommandSet&) = delete;
  CommandSet& operator=(const CommandSet&) = delete;

  const Choice& choice() const { return parsed_.choice; }
  // Back to what nothing was parsed into yet: no choice, every argument its
  // default. CLI11 forgets its own part of a parse when it parses again.
  void reset();

 private:
  // What the subcommands parse into, reset as one.
  struct Parsed {
    Choice choice;
    PumpArgs pump;
    FuelArgs fuel;
    ParamArgs param;
    MonitorOptions monitor;
    SoakOptions soak;
    BenchOptions bench;
    JournalListOptions journal;
    ServeOptions serve;
  };
  Parsed parsed_;
};

}  // namespace zarvo::host
