// `zarvo bench`: every pump of every line (simulated, or real devices) polled
// without pause, one thread a line, against the time the exchanges need on the wire.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "host/output/output.h"
#include "host/session/session.h"

namespace CLI {
class App;
}

namespace zarvo::host {

struct BenchOptions {
  std::uint32_t baud = 9600;
  std::uint32_t lines = 1;
  std::uint32_t pumps = 32;
  double seconds = 10;
  std::optional<std::chrono::milliseconds> turnaround;  // empty: the simulator's default
};

// Adds the `bench` subcommand with its options, which parse into `options`.
CLI::App* add_bench_options(CLI::App& app, BenchOptions& options);

// Polls the lines `session` binds, or, when it binds none, its own simulators,
// one a line; `session` also supplies the library, the timeouts and the trace.
// Returns the exit status.
int bench(const SessionOptions& session, Output& out, const BenchOptions& options);

}  // namespace zarvo::host
