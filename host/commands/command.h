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

// The exit statuses, one meaning each for every command (the README's table).
namespace exit_status {
inline constexpr int kDone = 0;
inline constexpr int kDriverFailed = 1;   // the driver raised: the line, or an argument
inline constexpr int kHostFailed = 2;     // the library, journal or output; a delivery gone wrong
inline constexpr int kSoakFault = 3;      // soak: a delivery lost, doubled or wrong
inline constexpr int kRefused = 4;        // a pump answered a command "refused"
inline constexpr int kUsage = 64;         // the command line: unknown, missing or out of range
inline constexpr int kInterrupted = 130;  // Ctrl-C or SIGTERM, after what was started ended
}  // namespace exit_status

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

// Runs one command; a failure is reported and gives its exit status.
int run_guarded(const Action& action, Session& session, Output& out, const std::string& name);
int run_standalone(const Standalone& action, const SessionOptions& options, Output& out,
                   const std::string& name);

}  // namespace zarvo::host
