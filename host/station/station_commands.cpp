#include "host/station/station_commands.h"

#include <utility>

namespace zarvo::host {

namespace {

Command on_pump(PumpTarget target, Json request, std::function<void(Session&, Output&)> run) {
  Json asked{{"command", request.at("command")}, {"line", target.line}, {"pump", target.pump}};
  for (const auto& [key, value] : request.items()) {
    if (key != "command") asked[key] = value;
  }
  return Command{target.line, target.pump, std::move(asked), std::move(run)};
}

}  // namespace

Command price_command(PumpTarget target, std::uint32_t nozzle, double price) {
  return on_pump(target, {{"command", "price"}, {"nozzle", nozzle}, {"price", price}},
                 [=](Session& s, Output& o) { set_price(s, o, target, nozzle, price); });
}

Command preset_command(PumpTarget target, std::uint32_t nozzle, wire::PresetKind kind,
                       double value) {
  const char* by = kind == wire::PresetKind::kVolume ? "volume" : "amount";
  return on_pump(target,
                 {{"command", "preset"}, {"nozzle", nozzle}, {"kind", by}, {"value", value}},
                 [=](Session& s, Output& o) { preset(s, o, kind, target, nozzle, value); });
}

Command stop_command(PumpTarget target) {
  return on_pump(target, {{"command", "stop"}},
                 [=](Session& s, Output& o) { stop_pump(s, o, target); });
}

Command stop_all_command(std::uint32_t line) {
  return Command{line, 0, Json{{"command", "stop-all"}, {"line", line}},
                 [line](Session& s, Output& o) { stop_all(s, o, line); }};
}

Command totals_command(PumpTarget target, std::uint32_t nozzle) {
  return on_pump(target, {{"command", "totals"}, {"nozzle", nozzle}},
                 [=](Session& s, Output& o) { show_totals(s, o, target, nozzle); });
}

Command read_param_command(PumpTarget target, std::int32_t number) {
  return on_pump(target, {{"command", "param get"}, {"number", number}},
                 [=](Session& s, Output& o) { read_param(s, o, target, number); });
}

Command write_param_command(PumpTarget target, std::int32_t number, std::int32_t value) {
  return on_pump(target, {{"command", "param set"}, {"number", number}, {"value", value}},
                 [=](Session& s, Output& o) { write_param(s, o, target, number, value); });
}

}  // namespace zarvo::host
