#include "host/commands/cli.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "codepage/cp1251.h"
#include "host/commands/checks.h"
#include "host/commands/commands.h"
#include "host/commands/scenes.h"
#include "host/tools/bench.h"
#include "host/tools/journal_list.h"
#include "host/tools/monitor.h"
#include "host/tools/soak.h"

#ifndef ZARVO_VERSION
#define ZARVO_VERSION "unknown"
#endif

namespace zarvo::host {

namespace {

using Action = std::function<int(Session&, Output&)>;
// A command that makes its own session from the global options.
using Standalone = std::function<int(const SessionOptions&, Output&)>;

int run_shell(Session& session, Output& out, std::istream& in);

// The subcommands and the storage their arguments parse into. The shell makes
// a fresh set for every line it reads.
class CommandSet {
 public:
  CommandSet(CLI::App& app, bool top_level, std::istream& in) : in_(in) {
    add_pump_commands(app);
    add_delivery_commands(app);
    add_param_commands(app);
    add_session_commands(app, top_level);
  }

  const Action& chosen() const { return chosen_; }
  const Standalone& standalone() const { return standalone_; }
  // The soak's options when `soak` was chosen: it needs its own simulator.
  const SoakOptions* soak() const { return soak_chosen_ ? &soak_ : nullptr; }

 private:
  // Line and pump as the first two positionals.
  void add_target(CLI::App* command) {
    command->add_option("line", target_.line, "line number 1..40")
        ->required()
        ->check(between(1, 40));
    command->add_option("pump", target_.pump, "pump address 1..32")
        ->required()
        ->check(between(1, 32));
  }
  void add_nozzle(CLI::App* command) {
    command->add_option("nozzle", nozzle_, "nozzle 1..6")->required()->check(between(1, 6));
  }
  void choose(CLI::App* command, std::function<void(Session&, Output&)> action) {
    command->callback([this, action = std::move(action)] {
      chosen_ = [action](Session& session, Output& out) {
        action(session, out);
        return 0;
      };
    });
  }

  void add_pump_commands(CLI::App& app) {
    auto* status = app.add_subcommand("status", "read a pump's state");
    add_target(status);
    choose(status, [this](Session& s, Output& o) { show_status(s, o, target_); });

    auto* poll = app.add_subcommand(
        "poll",
        "poll a pump as a station host does (parameters on the first poll, then the state)");
    add_target(poll);
    poll->add_option("--nozzles", nozzles_, "the pump's nozzle count (0 or 1: leave the driver's)")
        ->check(between(0, 6));
    choose(poll, [this](Session& s, Output& o) { poll_pump(s, o, target_, nozzles_); });

    auto* price = app.add_subcommand("price", "set a nozzle's unit price");
    add_target(price);
    add_nozzle(price);
    price->add_option("price", value_, "unit price")->required()->check(at_least(0));
    choose(price, [this](Session& s, Output& o) { set_price(s, o, target_, nozzle_, value_); });

    auto* stop = app.add_subcommand("stop", "stop a pump");
    add_target(stop);
    choose(stop, [this](Session& s, Output& o) { stop_pump(s, o, target_); });

    auto* stop_every = app.add_subcommand("stop-all", "stop every pump of a line");
    stop_every->add_option("line", target_.line, "line number 1..40")
        ->required()
        ->check(between(1, 40));
    choose(stop_every, [this](Session& s, Output& o) { stop_all(s, o, target_.line); });

    auto* totals = app.add_subcommand("totals", "read a nozzle's totalizers");
    add_target(totals);
    add_nozzle(totals);
    choose(totals, [this](Session& s, Output& o) { show_totals(s, o, target_, nozzle_); });
  }

  void add_delivery_commands(CLI::App& app) {
    auto* preset_cmd = app.add_subcommand("preset", "authorize a delivery by volume or amount");
    preset_cmd->add_option("kind", kind_, "volume or amount")
        ->required()
        ->check(CLI::IsMember({"volume", "amount"}));
    add_target(preset_cmd);
    add_nozzle(preset_cmd);
    preset_cmd->add_option("value", value_, "litres or money")->required()->check(at_least(0));
    choose(preset_cmd, [this](Session& s, Output& o) {
      preset(s, o, kind_ == "volume" ? PresetKind::kVolume : PresetKind::kAmount, target_, nozzle_,
             value_);
    });

    auto* delivery = app.add_subcommand("delivery", "the running or last delivery's readings");
    add_target(delivery);
    choose(delivery, [this](Session& s, Output& o) { show_delivery(s, o, target_); });

    auto* fuel_cmd = app.add_subcommand(
        "fuel", "price, preset and follow a delivery to its end, then show readings and totals");
    add_target(fuel_cmd);
    add_nozzle(fuel_cmd);
    auto* amount =
        fuel_cmd->add_option("--amount", amount_, "money to deliver")->check(more_than(0));
    auto* volume =
        fuel_cmd->add_option("--volume", volume_, "litres to deliver")->check(more_than(0));
    amount->excludes(volume);
    fuel_cmd->add_option("--price", price_, "set this unit price first")->check(at_least(0));
    fuel_cmd->add_option("--interval", fuel_.interval_ms, "milliseconds between polls")
        ->check(between(0, 10000));
    fuel_cmd->add_option("--timeout", fuel_.timeout_s, "seconds the delivery may take")
        ->check(between(1, 86400));
    fuel_cmd->callback([this, amount, volume] {
      if (amount->count() + volume->count() != 1) {
        throw CLI::ValidationError("fuel", "give --amount or --volume");
      }
      chosen_ = [this, amount, volume](Session& s, Output& o) {
        FuelOrder order = fuel_;
        order.target = target_;
        order.nozzle = nozzle_;
        if (amount->count() > 0) order.amount = amount_;
        if (volume->count() > 0) order.volume = volume_;
        if (!price_.empty()) order.price = price_.front();
        fuel(s, o, order);
        return 0;
      };
    });
  }

  void add_param_commands(CLI::App& app) {
    auto* param = app.add_subcommand("param", "read or write a dispenser parameter");
    param->require_subcommand(1);
    auto* get = param->add_subcommand("get", "read a parameter");
    add_target(get);
    get->add_option("number", param_no_, "parameter 0..99")->required()->check(between(0, 99));
    choose(get, [this](Session& s, Output& o) { read_param(s, o, target_, param_no_); });
    auto* set = param->add_subcommand("set", "write a parameter");
    add_target(set);
    set->add_option("number", param_no_, "parameter 0..99")->required()->check(between(0, 99));
    set->add_option("value", param_value_, "value 0..255")->required()->check(between(0, 255));
    choose(set,
           [this](Session& s, Output& o) { write_param(s, o, target_, param_no_, param_value_); });
  }

  void add_session_commands(CLI::App& app, bool top_level) {
    auto* info = app.add_subcommand("info", "the driver's name, capabilities and the lines");
    choose(info, [](Session& s, Output& o) { show_info(s, o); });

    auto* mon = app.add_subcommand(
        "monitor", "live table of every pump, lines polled at once, with a journal");
    mon->add_option("--journal", monitor_.journal, "SQLite file recording each delivery once");
    mon->add_option("--pumps", monitor_.pumps, "pumps 1..N on each line (0: find them)")
        ->check(between(0, 32));
    mon->add_option("--interval", monitor_.interval_ms, "milliseconds between refreshes")
        ->check(between(0, 60000));
    mon->add_option("--count", monitor_.cycles, "refreshes before ending (0: until Ctrl-C)");
    choose(mon, [this](Session& s, Output& o) { monitor(s, o, monitor_); });

    if (!top_level) return;
    add_soak_command(app);
    auto* settings =
        app.add_subcommand("settings", "open the driver's settings dialog through its menu entry");
    settings->callback([this] { standalone_ = open_settings; });
    auto* shell = app.add_subcommand("shell", "run one command a line from standard input");
    shell->callback(
        [this] { chosen_ = [this](Session& s, Output& o) { return run_shell(s, o, in_); }; });
    auto* demo_cmd = app.add_subcommand("demo", "a full fuelling cycle, explained step by step");
    choose(demo_cmd, [](Session& s, Output& o) { demo(s, o); });
    add_bench_command(app);
    add_journal_options(app, journal_)->callback([this] {
      standalone_ = [this](const SessionOptions&, Output& out) {
        return list_journal(out, journal_);
      };
    });
  }

  void add_bench_command(CLI::App& app) {
    add_bench_options(app, bench_)->callback([this] {
      standalone_ = [this](const SessionOptions& o, Output& out) { return bench(o, out, bench_); };
    });
  }

  void add_soak_command(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "soak",
        "deliveries on N built-in simulated lines at once with line faults, each line checked "
        "against its simulator's record");
    cmd->add_option("--exchanges", soak_.exchanges,
                    "exchanges on each line before its last deliveries end")
        ->check(between(1, 100e6));
    cmd->add_option("--faults", soak_.faults,
                    "none, default (5 % corrupted, 2 % dropped, 1 % silent), harsh (also noise "
                    "and late replies), then key=percent: corrupt, drop, silent, noise, late; "
                    "silent-ms, late-ms; e.g. default,noise=2");
    cmd->add_option("--seed", soak_.seed, "seed of the faults and the deliveries");
    cmd->add_option("--journal", soak_.journal, "SQLite journal file (default: in memory)");
    cmd->add_option("--pumps", soak_.pumps, "pumps 1..N on each line")->check(between(1, 32));
    cmd->add_option("--lines", soak_.lines, "simulated lines driven at once, one thread each")
        ->check(between(1, 40))
        ->capture_default_str();
    cmd->callback([this] {
      soak_chosen_ = true;
      standalone_ = [this](const SessionOptions& s, Output& o) {
        return zarvo::host::soak(s, o, soak_);
      };
    });
  }

  std::istream& in_;
  Action chosen_;
  Standalone standalone_;
  SoakOptions soak_;
  bool soak_chosen_ = false;
  PumpTarget target_;
  std::uint32_t nozzle_ = 1;
  std::uint32_t nozzles_ = 0;
  double value_ = 0;
  std::string kind_;
  double amount_ = 0;
  double volume_ = 0;
  std::vector<double> price_;
  FuelOrder fuel_;
  std::int32_t param_no_ = 0;
  std::int32_t param_value_ = 0;
  MonitorOptions monitor_;
  BenchOptions bench_;
  JournalListOptions journal_;
};

std::string driver_message(const zarvo::Exception& e) {
  const std::string message = utf8_from_cp1251(e.what());
  return message.empty() ? std::string("the driver rejected the reply") : message;
}

// Runs one command; a failure is reported and gives a non-zero status.
int run_guarded(const Action& action, Session& session, Output& out, const std::string& name) {
  session.reset_failure();
  std::string error;
  int status = 1;
  try {
    return action(session, out);
  } catch (const zarvo::ESerialIO& e) {
    error = driver_message(e);
    if (const std::string why = session.last_failure(); !why.empty()) error += " (" + why + ")";
  } catch (const zarvo::Exception& e) {
    error = driver_message(e);
  } catch (const std::exception& e) {
    error = e.what();
    status = 2;
  }
  out.error("zarvo " + name + ": " + error);
  if (out.json()) out.result(Json{{"command", name}, {"error", error}}, error);
  return status;
}

int run_standalone(const Standalone& action, const SessionOptions& options, Output& out,
                   const std::string& name) {
  try {
    return action(options, out);
  } catch (const zarvo::Exception& e) {
    out.error("zarvo " + name + ": " + driver_message(e));
  } catch (const std::exception& e) {
    out.error("zarvo " + name + ": " + e.what());
  }
  return 2;
}

std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (const char c : text) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

int run_shell(Session& session, Output& out, std::istream& in) {
  int failures = 0;
  std::string text;
  while (std::getline(in, text)) {
    std::vector<std::string> words = split_words(text);
    if (words.empty() || words.front().starts_with('#')) continue;
    if (words.front() == "quit" || words.front() == "exit") break;
    CLI::App app("One command a line; the session keeps its state between lines.", "");
    app.require_subcommand(1);
    CommandSet commands(app, false, in);
    try {
      std::vector<std::string> reversed(words.rbegin(), words.rend());
      app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
      out.err() << app.help();
      continue;
    } catch (const CLI::ParseError& e) {
      out.err() << "zarvo shell: " << e.what() << '\n';
      ++failures;
      continue;
    }
    if (run_guarded(commands.chosen(), session, out, words.front()) != 0) ++failures;
  }
  return failures == 0 ? 0 : 1;
}

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

}  // namespace

int run_zarvo(int argc, const char* const* argv, std::istream& in, std::ostream& out,
              std::ostream& err) {
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
      ->check(between(1, 60000));
  app.add_option("--inter-byte-timeout", inter_byte_ms, "milliseconds allowed between reply bytes")
      ->check(between(1, 60000));
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
    return app.exit(e, out, err);
  }
  options.timeouts = {std::chrono::milliseconds(first_byte_ms),
                      std::chrono::milliseconds(inter_byte_ms)};
  options.simulator.link.pacing = !no_pacing;
  if (const SoakOptions* soak = commands.soak()) {
    const bool timeouts_given = app.get_option("--first-byte-timeout")->count() +
                                    app.get_option("--inter-byte-timeout")->count() >
                                0;
    try {
      prepare_soak_session(*soak, options, timeouts_given);
    } catch (const std::invalid_argument& e) {
      err << "zarvo soak: " << e.what() << '\n';
      return 2;
    }
  }

  Output output(json, out, err);
  std::string name = "zarvo";
  for (const CLI::App* sub : app.get_subcommands()) name = sub->get_name();
  if (commands.standalone()) return run_standalone(commands.standalone(), options, output, name);
  std::unique_ptr<Session> session;
  try {
    session = std::make_unique<Session>(options, err);
  } catch (const std::exception& e) {
    err << "zarvo: " << e.what() << '\n';
    return 2;
  }
  return run_guarded(commands.chosen(), *session, output, name);
}

}  // namespace zarvo::host
