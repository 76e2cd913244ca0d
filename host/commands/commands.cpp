#include "host/commands/commands.h"

#include <cmath>
#include <string>
#include <vector>

#include "codepage/cp1251.h"
#include "host/output/pump_state.h"
#include "host/tools/release_watch.h"
#include "protocol/frame_text.h"

namespace zarvo::host {

namespace {

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

std::string money(const Session& session, double value) {
  return fixed_text(value, session.settings().sum_decimals);
}

void report_released(Session& session, Output& out, ReleaseWatch& released) {
  for (const JournalEntry& entry : released.take()) {
    show_released(out, entry, session.settings().sum_decimals);
  }
}

// What was sent beside what was asked, when the digits rounded it away.
void add_asked(Json& result, std::string& text, double sent, double asked) {
  if (std::fabs(sent - asked) < 1e-9) return;
  result["asked"] = asked;
  text += " (" + number_text(asked) + " asked)";
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
  const DriverSettings& settings = session.settings();
  text += "\nsettings: " + settings.path +
          (settings.found ? std::string() : std::string(" (none there: the defaults)")) +
          "\n  amounts with " + std::to_string(settings.sum_decimals) + " decimals, prices with " +
          std::to_string(settings.price_decimals) + ", mono-product start " +
          (settings.mono_start ? "on" : "off");
  std::string line_text;
  Json::array_t line_list;
  for (const std::uint32_t line : session.lines()) {
    line_list.push_back(Json{{"line", line}, {"device", session.port().device(line)}});
    line_text += "\nline " + std::to_string(line) + ": " + session.port().device(line);
  }
  out.result(Json{{"command", "info"},
                  {"driver", shown},
                  {"capabilities", std::move(capabilities)},
                  {"settings", Json{{"file", settings.path},
                                    {"found", settings.found},
                                    {"sum_decimals", settings.sum_decimals},
                                    {"price_decimals", settings.price_decimals},
                                    {"mono_start", settings.mono_start}}},
                  {"lines", std::move(line_list)}},
             text + line_text);
}

void show_status(Session& session, Output& out, PumpTarget target, const std::string& journal) {
  ReleaseWatch released(session, journal);
  const std::uint8_t state = session.driver().read_pump_state(target.line, target.pump);
  report_released(session, out, released);
  out.result(target_json("status", target, {{"state", state}, {"label", pump_state_label(state)}}),
             target_text(target) + ": state " + state_text(state));
}

void poll_pump(Session& session, Output& out, PumpTarget target, std::uint32_t nozzles,
               const std::string& journal) {
  ReleaseWatch released(session, journal);
  const auto mark = session.exchange_mark(target.line);
  const PollReading reading = session.driver().poll(target.line, target.pump, nozzles);
  session.require_accepted(mark);
  report_released(session, out, released);
  out.result(target_json("poll", target,
                         {{"state", reading.state},
                          {"label", pump_state_label(reading.state)},
                          {"low_bits", reading.low_bits}}),
             target_text(target) + ": state " + state_text(reading.state));
}

void set_price(Session& session, Output& out, PumpTarget target, std::uint32_t nozzle,
               double price) {
  const auto mark = session.exchange_mark(target.line);
  session.driver().set_price(target.line, target.pump, nozzle, price);
  std::optional<double> sent;
  for (const Exchanged& e : session.require_accepted(mark)) {
    if (const auto value = wire::price_sent(e.sent, nozzle, session.settings().price_decimals)) {
      sent = value;
    }
  }
  const std::string where = target_text(target) + " nozzle " + std::to_string(nozzle);
  if (!sent) {
    out.result(
        target_json("price", target, {{"nozzle", nozzle}, {"price", price}, {"sent", false}}),
        where + ": price " + number_text(price) +
            ", the digits the pump was last sent: nothing sent");
    return;
  }
  Json result =
      target_json("price", target, {{"nozzle", nozzle}, {"price", *sent}, {"sent", true}});
  std::string text = where + ": price " + fixed_text(*sent, session.settings().price_decimals);
  add_asked(result, text, *sent, price);
  out.result(result, text);
}

void preset(Session& session, Output& out, wire::PresetKind kind, PumpTarget target,
            std::uint32_t nozzle, double value) {
  const bool volume = kind == wire::PresetKind::kVolume;
  const auto mark = session.exchange_mark(target.line);
  if (volume) {
    session.driver().preset_volume(target.line, target.pump, nozzle, value);
  } else {
    session.driver().preset_amount(target.line, target.pump, nozzle, value);
  }
  double sent = value;
  for (const Exchanged& e : session.require_accepted(mark)) {
    if (const auto start = wire::preset_sent(e.sent, session.settings().sum_decimals)) {
      sent = start->value;
    }
  }
  Json result =
      target_json("preset", target,
                  {{"nozzle", nozzle}, {"kind", volume ? "volume" : "amount"}, {"value", sent}});
  std::string text = target_text(target) + " nozzle " + std::to_string(nozzle) + ": preset " +
                     (volume ? "volume " + fixed_text(sent, 2) : "amount " + money(session, sent));
  add_asked(result, text, sent, value);
  out.result(result, text);
}

void show_delivery(Session& session, Output& out, PumpTarget target, const std::string& journal) {
  ReleaseWatch released(session, journal);
  const std::uint8_t state = session.driver().read_pump_state(target.line, target.pump);
  report_released(session, out, released);
  if (!session.readings_reported(target.line, target.pump)) {
    out.result(target_json("delivery", target, {{"volume", nullptr}, {"amount", nullptr}}),
               target_text(target) + ": no delivery reported, state " + state_text(state));
    return;
  }
  const Delivery delivery = session.driver().delivery(target.line, target.pump);
  out.result(
      target_json("delivery", target, {{"volume", delivery.volume}, {"amount", delivery.amount}}),
      target_text(target) + ": volume " + fixed_text(delivery.volume, 2) + " l, amount " +
          money(session, delivery.amount));
}

void stop_pump(Session& session, Output& out, PumpTarget target) {
  const auto mark = session.exchange_mark(target.line);
  session.driver().stop(target.line, target.pump);
  session.require_accepted(mark);
  out.result(target_json("stop", target), target_text(target) + ": stopped");
}

void stop_all(Session& session, Output& out, std::uint32_t line) {
  const auto mark = session.exchange_mark(line);
  session.driver().stop_all(line);
  session.require_accepted(mark);
  out.result(Json{{"command", "stop-all"}, {"line", line}},
             "line " + std::to_string(line) + ": every pump stopped");
}

void show_totals(Session& session, Output& out, PumpTarget target, std::uint32_t nozzle) {
  const auto mark = session.exchange_mark(target.line);
  const auto totals = session.driver().totals(target.line, target.pump, nozzle);
  session.require_accepted(mark);
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
  out.result(result, where + ": totals volume " + fixed_text(totals->volume, 2) + " l, amount " +
                         money(session, totals->amount));
}

void read_param(Session& session, Output& out, PumpTarget target, std::int32_t number) {
  const std::uint8_t value = session.driver().read_param(target.line, target.pump, number);
  out.result(target_json("param", target, {{"number", number}, {"value", value}}),
             target_text(target) + ": parameter " + std::to_string(number) + " = " +
                 std::to_string(value));
}

void write_param(Session& session, Output& out, PumpTarget target, std::int32_t number,
                 std::int32_t value) {
  const auto mark = session.exchange_mark(target.line);
  session.driver().write_param(target.line, target.pump, number, value);
  session.require_accepted(mark);
  out.result(target_json("param", target, {{"number", number}, {"value", value}}),
             target_text(target) + ": parameter " + std::to_string(number) + " set to " +
                 std::to_string(value));
}

}  // namespace zarvo::host
