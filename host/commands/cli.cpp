#include "host/commands/cli.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <clocale>
#include <memory>
#include <string>
#include <vector>

#include "host/commands/checks.h"
#include "host/commands/command_set.h"
#include "host/soak/soak.h"

#ifndef ZARVO_VERSION
#define ZARVO_VERSION "unknown"
#endif

namespace zarvo::host {

namespace {

std::pair<std::uint32_t, std::string> parse_line_option(const std::string& text) {
  const auto equals = text.find('=');
  if (equals == std::string::npos || equals == 0 || equals + 1 == text.size()) {
    throw CLI::ValidationError("--line", "expected N=DEVICE, got '" + text + "'");
  }
  std::uint32_t line = 0;
  try {
    std::size_t used = 0;
    const unsigned long value = std::stoul(text.substr(0, equals), &used);
    if (used != equals || value < 1 || value > 40) throw std::out_of_range("line");
    line = static_cast<std::uint32_t>(value);
  } catch (const std::logic_error&) {
    throw CLI::ValidationError("--line", "the line number in '" + text + "' is not 1..40");
  }
  return {line, text.substr(equals + 1)};
}

// Numbers are read and written one way whatever the locale, with a point
// ("45.5"; the checks take "45,5" as typed too): only the character set of
// the text follows the locale.
class PointDecimals {
 public:
  PointDecimals() : saved_(std::setlocale(LC_NUMERIC, nullptr)) { std::setlocale(LC_NUMERIC, "C"); }
  ~PointDecimals() { std::setlocale(LC_NUMERIC, saved_.c_str()); }
  PointDecimals(const PointDecimals&) = delete;
  PointDecimals& operator=(const PointDecimals&) = delete;

 private:
  std::string saved_;
};

// The command the line names, for messages: "zarvo" before one is known.
std::string command_name(const CLI::App& app) {
  std::string name = "zarvo";
  for (const CLI::App* sub : app.get_subcommands()) name = sub->get_name();
  return name;
}

}  // namespace

int run_zarvo(int argc, const char* const* argv, std::istream& in, std::ostream& out,
              std::ostream& err) {
  const PointDecimals point_decimals;
  CLI::App app(
      "zarvo: the reference host of the Zarvo dispenser driver.\n"
      "Without --line, line 1 is the built-in simulator, run in this process.",
      "zarvo");
  app.set_version_flag("--version", std::string("zarvo ") + ZARVO_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  SessionOptions options;
  std::vector<std::string> lines;
  bool json = false;
  bool no_pacing = false;
  std::uint32_t first_byte_ms = 200;
  std::uint32_t inter_byte_ms = 20;
  app.add_option("--lib", options.library, "the driver library (default: the one built beside)");
  app.add_option("--line", lines, "bind a line to a serial device: N=DEVICE (repeatable)");
  app.add_flag("--trace", options.trace, "show every frame in hex with its meaning (stderr)");
  app.add_flag("--json", json, "one JSON object a result on standard output");
  app.add_option("--first-byte-timeout", first_byte_ms, "milliseconds to wait for a reply")
      ->transform(between(1, 60000));
  app.add_option("--inter-byte-timeout", inter_byte_ms, "milliseconds allowed between reply bytes")
      ->transform(between(1, 60000));
  app.add_flag("--no-pacing", no_pacing, "the built-in simulator answers at full speed");
  CommandSet commands(app, true, in);

  try {
    app.parse(argc, argv);
    for (const std::string& text : lines) {
      const auto line = parse_line_option(text);
      for (const auto& [known, device] : options.lines) {
        if (known == line.first) {
          throw CLI::ValidationError("--line", "line " + std::to_string(known) + " given twice");
        }
      }
      options.lines.push_back(line);
    }
  } catch (const CLI::ParseError& e) {
    // --help and --version end here too, successfully.
    if (app.exit(e, out, err) == 0) return exit_status::kDone;
    const std::vector<std::string> words(argv + 1, argv + argc);
    if (std::ranges::find(words, "--json") != words.end()) {
      // The message itself went to standard error above.
      Output(true, out, err)
          .result(Json{{"command", command_name(app)},
                       {"error", e.what()},
                       {"status", exit_status::kUsage}},
                  "");
    }
    return exit_status::kUsage;
  }
  options.timeouts = {std::chrono::milliseconds(first_byte_ms),
                      std::chrono::milliseconds(inter_byte_ms)};
  options.simulator.link.pacing = !no_pacing;
  Output output(json, out, err);
  const std::string name = command_name(app);
  if (const SoakOptions* soak = commands.choice().soak) {
    const bool timeouts_given = app.get_option("--first-byte-timeout")->count() +
                                    app.get_option("--inter-byte-timeout")->count() >
                                0;
    try {
      prepare_soak_session(*soak, options, timeouts_given);
    } catch (const std::invalid_argument& e) {
      output.failure(name, e.what(), exit_status::kUsage);
      return exit_status::kUsage;
    }
  }

  const Choice& choice = commands.choice();
  int status = exit_status::kDone;
  if (choice.standalone) {
    status = run_standalone(choice.standalone, options, output, name);
  } else {
    std::unique_ptr<Session> session;
    try {
      session = std::make_unique<Session>(options, err);
    } catch (const std::exception& e) {
      output.failure(name, e.what(), exit_status::kHostFailed);
      return exit_status::kHostFailed;
    }
    status = run_guarded(choice.action, *session, output, name);
  }
  // What a command wrote without a result of its own (a table, a live view).
  if (status == exit_status::kDone && !output.written()) {
    output.failure(name, "standard output cannot be written", exit_status::kHostFailed);
    return exit_status::kHostFailed;
  }
  return status;
}

}  // namespace zarvo::host
