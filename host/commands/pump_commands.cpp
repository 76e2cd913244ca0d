#include "host/commands/pump_commands.h"

#include "host/commands/checks.h"

namespace zarvo::host {

namespace {

// Line and pump as the first two positionals.
void add_target(CLI::App* command, PumpTarget& target) {
  command->add_option("line", target.line, "line number 1..40")
      ->required()
      ->transform(between(1, 40));
  command->add_option("pump", target.pump, "pump address 1..32")
      ->required()
      ->transform(between(1, 32));
}

void add_nozzle(CLI::App* command, std::uint32_t& nozzle) {
  command->add_option("nozzle", nozzle, "nozzle 1..6")->required()->transform(between(1, 6));
}

// For the commands whose exchange may end a delivery.
void add_journal(CLI::App* command, std::string& journal) {
  command->add_option("--journal", journal,
                      "SQLite file that a delivery this command ends is written to first");
}

}  // namespace

void add_pump_commands(CLI::App& app, PumpArgs& args, Choice& choice) {
  auto* status = app.add_subcommand("status", "read a pump's state");
  add_target(status, args.target);
  add_journal(status, args.journal);
  choose(status, choice,
         [&args](Session& s, Output& o) { show_status(s, o, args.target, args.journal); });

  auto* poll = app.add_subcommand(
      "poll", "poll a pump as a station host does (parameters on the first poll, then the state)");
  add_target(poll, args.target);
  poll->add_option("--nozzles", args.nozzles,
                   "the pump's nozzle count (0 or 1: leave the driver's)")
      ->transform(between(0, 6));
  add_journal(poll, args.journal);
  choose(poll, choice, [&args](Session& s, Output& o) {
    poll_pump(s, o, args.target, args.nozzles, args.journal);
  });

  auto* price = app.add_subcommand("price", "set a nozzle's unit price");
  add_target(price, args.target);
  add_nozzle(price, args.nozzle);
  price->add_option("price", args.value, "unit price")->required()->transform(at_least(0));
  choose(price, choice,
         [&args](Session& s, Output& o) { set_price(s, o, args.target, args.nozzle, args.value); });

  auto* stop = app.add_subcommand("stop", "stop a pump");
  add_target(stop, args.target);
  choose(stop, choice, [&args](Session& s, Output& o) { stop_pump(s, o, args.target); });

  auto* stop_every = app.add_subcommand("stop-all", "stop every pump of a line");
  stop_every->add_option("line", args.target.line, "line number 1..40")
      ->required()
      ->transform(between(1, 40));
  choose(stop_every, choice, [&args](Session& s, Output& o) { stop_all(s, o, args.target.line); });

  auto* totals = app.add_subcommand("totals", "read a nozzle's totalizers");
  add_target(totals, args.target);
  add_nozzle(totals, args.nozzle);
  choose(totals, choice,
         [&args](Session& s, Output& o) { show_totals(s, o, args.target, args.nozzle); });
}

void add_delivery_commands(CLI::App& app, PumpArgs& args, FuelArgs& fuel_args, Choice& choice) {
  auto* preset_cmd = app.add_subcommand("preset", "authorize a delivery by volume or amount");
  preset_cmd->add_option("kind", args.kind, "volume or amount")
      ->required()
      ->check(CLI::IsMember({"volume", "amount"}));
  add_target(preset_cmd, args.target);
  add_nozzle(preset_cmd, args.nozzle);
  preset_cmd->add_option("value", args.value, "litres or money")
      ->required()
      ->transform(at_least(0));
  choose(preset_cmd, choice, [&args](Session& s, Output& o) {
    preset(s, o, args.kind == "volume" ? wire::PresetKind::kVolume : wire::PresetKind::kAmount,
           args.target, args.nozzle, args.value);
  });

  auto* delivery =
      app.add_subcommand("delivery", "asks the pump for the running or last delivery's readings");
  add_target(delivery, args.target);
  add_journal(delivery, args.journal);
  choose(delivery, choice,
         [&args](Session& s, Output& o) { show_delivery(s, o, args.target, args.journal); });

  auto* fuel_cmd = app.add_subcommand(
      "fuel", "price, preset and follow a delivery to its end, then show readings and totals");
  add_target(fuel_cmd, args.target);
  add_nozzle(fuel_cmd, args.nozzle);
  auto* amount = fuel_cmd->add_option("--amount", fuel_args.amount, "money to deliver")
                     ->transform(more_than(0));
  auto* volume = fuel_cmd->add_option("--volume", fuel_args.volume, "litres to deliver")
                     ->transform(more_than(0));
  amount->excludes(volume);
  fuel_cmd->add_option("--price", fuel_args.price, "set this unit price first")
      ->transform(at_least(0));
  fuel_cmd->add_option("--interval", fuel_args.order.interval_ms, "milliseconds between polls")
      ->transform(between(0, 10000));
  fuel_cmd->add_option("--timeout", fuel_args.order.timeout_s, "seconds the delivery may take")
      ->transform(between(1, 86400));
  add_journal(fuel_cmd, fuel_args.order.journal);
  fuel_cmd->callback([&args, &fuel_args, &choice, amount, volume] {
    if (amount->count() + volume->count() != 1) {
      throw CLI::ValidationError("fuel", "give --amount or --volume");
    }
    choice.action = [&args, &fuel_args, amount, volume](Session& s, Output& o) {
      FuelOrder order = fuel_args.order;
      order.target = args.target;
      order.nozzle = args.nozzle;
      if (amount->count() > 0) order.amount = fuel_args.amount;
      if (volume->count() > 0) order.volume = fuel_args.volume;
      if (!fuel_args.price.empty()) order.price = fuel_args.price.front();
      fuel(s, o, order);
      return 0;
    };
  });
}

void add_param_commands(CLI::App& app, PumpArgs& args, ParamArgs& param_args, Choice& choice) {
  auto* param = app.add_subcommand("param", "read or write a dispenser parameter");
  param->require_subcommand(1);
  auto* get = param->add_subcommand("get", "read a parameter");
  add_target(get, args.target);
  get->add_option("number", param_args.number, "parameter 0..99")
      ->required()
      ->transform(between(0, 99));
  choose(get, choice, [&args, &param_args](Session& s, Output& o) {
    read_param(s, o, args.target, param_args.number);
  });
  auto* set = param->add_subcommand("set", "write a parameter");
  add_target(set, args.target);
  set->add_option("number", param_args.number, "parameter 0..99")
      ->required()
      ->transform(between(0, 99));
  set->add_option("value", param_args.value, "value 0..255")
      ->required()
      ->transform(between(0, 255));
  choose(set, choice, [&args, &param_args](Session& s, Output& o) {
    write_param(s, o, args.target, param_args.number, param_args.value);
  });
}

}  // namespace zarvo::host
