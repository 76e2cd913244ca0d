#include "host/commands/commands.h"

#include <cstdio>
#include <string>

#include "codepage/cp1251.h"
#include "host/output/pump_state.h"

namespace zarvo::host {

namespace {

std::string money(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.2f", value);
  return text;
}

// The command and its pump, then the command's own members in their order.
Json target_json(const char* command, PumpTarget target, const Json& more = Json::object()) {
  Json result{{"command", command}, {"line", target.line}, {"pump", target.pump}};
  for (const auto& [key, value] : more.items()) result[key] = value;
  return result;
}

std::string target_text(PumpTarget target) {
  return "line " + std::to_string(target.line) + " pump " + std::to_string(target.pump);
}

std::string state_text(std::uint8_t state) {
  return std::to_string(state) + " (" + pump_state_label(state) + ")";
}

}  // namespace

void show_info(Session& session, Output& out) {
  const std::string name = session.driver().name();
  const std::string shown = utf8_from_cp1251(name);
  Json::array_t capabilities;
  std::string text = "driver: " + shown + "\ncapabilities:";
  for (std::uint32_t kind = 0; kind <= 10; ++kind) {
    const auto value = session.driver().capability(kind);
    capabilities.push_back(Json{{"kind", kind},
                                {"supported", value.has_value()},
                                {"value", value ? Json(*value) : Json()}});
    text += "\n  kind " + std::to_string(kind) + ": " +
            (value ? "yes, value " + std::to_string(*value) : std::string("no"));
  }
  std::string line_text;
  Json::array_t line_list;
  for (const std::uint32_t line : session.lines()) {
    line_list.push_back(Json{{"line", line}, {"device", session.port().device(line)}});
    line_text += "\nline " + std::to_string(line) + ": " + session.port().device(line);
  }
  out.result(Json{{"command", "info"},
                  {"driver", shown},
                  {"capabilities", std::move(capabilities)},
                  {"lines", std::move(line_list)}},
             text + line_text);
}

void show_status(Session& session, Output& out, PumpTarget target) {
  const std::uint8_t state = session.driver().read_pump_state(target.line, target.pump);
  out.result(target_json("status", target, {{"state", state}, {"label", pump_state_label(state)}}),
             target_text(target) + ": state " + state_text(state));
}

void poll_pump(Session& session, Output& out, PumpTarget target, std::uint32_t nozzles) {
  const PollReading reading = session.driver().poll(target.line, target.pump, nozzles);
  out.result(target_json("poll", target,
                         {{"state", reading.state},
                          {"label", pump_state_label(reading.state)},
                          {"low_bits", reading.low_bits}}),
             target_text(target) + ": state " + state_text(reading.state));
}

void set_price(Session& session, Output& out, PumpTarget target, std::uint32_t nozzle,
               double price) {
  session.driver().set_price(target.line, target.pump, nozzle, price);
  out.result(
      target_json("price", target, {{"nozzle", nozzle}, {"price", price}}),
      target_text(target) + " nozzle " + std::to_string(nozzle) + ": price " + number_text(price));
}

void preset(Session& session, Output& out, PresetKind kind, PumpTarget target, std::uint32_t nozzle,
            double value) {
  const bool volume = kind == PresetKind::kVolume;
  if (volume) {
    session.driver().preset_volume(target.line, target.pump, nozzle, value);
  } else {
    session.driver().preset_amount(target.line, target.pump, nozzle, value);
  }
  out.result(
      target_json("preset", target,
                  {{"nozzle", nozzle}, {"kind", volume ? "volume" : "amount"}, {"value", value}}),
      target_text(target) + " nozzle " + std::to_string(nozzle) + ": preset " +
          (volume ? "volume " : "amount ") + number_text(value));
}

void show_delivery(Session& session, Output& out, PumpTarget target) {
  const Delivery delivery = session.driver().delivery(target.line, target.pump);
  out.result(
      target_json("delivery", target, {{"volume", delivery.volume}, {"amount", delivery.amount}}),
      target_text(target) + ": volume " + money(delivery.volume) + " l, amount " +
          money(delivery.amount));
}

void stop_pump(Session& session, Output& out, PumpTarget target) {
  session.driver().stop(target.line, target.pump);
  out.result(target_json("stop", target), target_text(target) + ": stopped");
}

void stop_all(Session& session, Output& out, std::uint32_t line) {
  session.driver().stop_all(line);
  out.result(Json{{"command", "stop-all"}, {"line", line}},
             "line " + std::to_string(line) + ": every pump stopped");
}

void show_totals(Session& session, Output& out, PumpTarget target, std::uint32_t nozzle) {
  const auto totals = session.driver().totals(target.line, target.pump, nozzle);
  Json result = target_json("totals", target, {{"nozzle", nozzle}});
  const std::string where = target_text(target) + " nozzle " + std::to_string(nozzle);
  if (!totals) {
    result["volume"] = nullptr;
    result["amount"] = nullptr;
    out.result(result, where + ": no totals reply was taken");
    return;
  }
  result["volume"] = totals->volume;
  result["amount"] = totals->amount;
  out.result(result, where + ": totals volume " + money(totals->volume) + " l, amount " +
                         money(totals->amount));
}

void read_param(Session& session, Output& out, PumpTarget target, std::int32_t number) {
  const std::uint8_t value = session.driver().read_param(target.line, target.pump, number);
  out.result(target_json("param", target, {{"number", number}, {"value", value}}),
             target_text(target) + ": parameter " + std::to_string(number) + " = " +
                 std::to_string(value));
}

void write_param(Session& session, Output& out, PumpTarget target, std::int32_t number,
                 std::int32_t value) {
  session.driver().write_param(target.line, target.pump, number, value);
  out.result(target_json("param", target, {{"number", number}, {"value", value}}),
             target_text(target) + ": parameter " + std::to_string(number) + " set to " +
                 std::to_string(value));
}

}  // namespace zarvo::host
