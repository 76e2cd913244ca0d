// The shape every command shares: its options parse into a struct the caller
// keeps alive, a function adds the subcommand to CLI11, and the subcommand's
// callback records in a Choice what runs once the whole line is parsed.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <string>

#include "host/output/output.h"
#include "host/session/session.h"

namespace zarvo::host {

struct SoakOptions;

// Runs on the session the global options open.
using Action = std::function<int(Session&, Output&)>;
// Makes its own session, or none, from the global options.
using Standalone = std::function<int(const SessionOptions&, Output&)>;

// What the parsed command line chose: one of the two is set.
struct Choice {
  Action action;
  Standalone standalone;
  // The soak's options when `soak` was chosen: it needs its own simulator.
  const SoakOptions* soak = nullptr;
};

// When `command` is chosen, `run` becomes the action; it reports its own result.
void choose(CLI::App* command, Choice& choice, std::function<void(Session&, Output&)> run);

// Runs one command; a failure is reported and gives a non-zero status.
int run_guarded(const Action& action, Session& session, Output& out, const std::string& name);
int run_standalone(const Standalone& action, const SessionOptions& options, Output& out,
                   const std::string& name);

}  // namespace zarvo::host
