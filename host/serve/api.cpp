#include "host/serve/api.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <future>
#include <initializer_list>
#include <set>
#include <utility>

#include "host/output/pump_state.h"
#include "host/serve/web_assets.h"
#include "host/station/station_commands.h"
#include "host/tools/journal.h"
#include "host/tools/journal_list.h"

namespace zarvo::host {

namespace {

// A request the API cannot take: the status, a message and the field at fault.
struct Refusal {
  int status;
  std::string message;
  std::string field;
};

std::optional<std::uint32_t> whole_number(const std::string& text, std::uint32_t low,
                                          std::uint32_t high) {
  std::uint32_t value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end || value < low || value > high) {
    return std::nullopt;
  }
  return value;
}

std::uint32_t path_number(const std::string& text, const char* field, std::uint32_t low,
                          std::uint32_t high) {
  if (const auto value = whole_number(text, low, high)) return *value;
  throw Refusal{400,
                std::string(field) + ": must be a whole number " + std::to_string(low) + " to " +
                    std::to_string(high) + ", got '" + text + "'",
                field};
}

// The body as an object of the named members only.
class Body {
 public:
  Body(const std::string& text, std::initializer_list<const char*> allowed) {
    value_ = Json::parse(text.empty() ? std::string("{}") : text, nullptr, false);
    if (value_.is_discarded() || !value_.is_object()) {
      throw Refusal{400, "the body must be a JSON object", "body"};
    }
    const std::set<std::string> known(allowed.begin(), allowed.end());
    for (const auto& [key, member] : value_.items()) {
      if (!known.contains(key)) throw Refusal{400, key + ": no such member here", key};
    }
  }

  bool has(const char* field) const { return value_.contains(field); }

  double number(const char* field, double low, double high, bool low_allowed = true) const {
    const Json* member = find(field);
    if (member == nullptr) throw Refusal{400, std::string(field) + ": missing", field};
    if (!member->is_number()) throw Refusal{400, std::string(field) + ": must be a number", field};
    const double value = member->get<double>();
    if (!std::isfinite(value) || value > high || value < low || (!low_allowed && value == low)) {
      throw Refusal{400,
                    std::string(field) + ": must be " + (low_allowed ? "" : "more than ") +
                        number_text(low) + (low_allowed ? " to " : " and at most ") +
                        number_text(high) + ", got " + number_text(value),
                    field};
    }
    return value;
  }

  std::uint32_t whole(const char* field, std::uint32_t low, std::uint32_t high) const {
    const Json* member = find(field);
    if (member == nullptr) throw Refusal{400, std::string(field) + ": missing", field};
    if (!member->is_number_integer() || member->get<std::int64_t>() < low ||
        member->get<std::int64_t>() > high) {
      throw Refusal{400,
                    std::string(field) + ": must be a whole number " + std::to_string(low) +
                        " to " + std::to_string(high),
                    field};
    }
    return static_cast<std::uint32_t>(member->get<std::int64_t>());
  }

 private:
  const Json* find(const char* field) const {
    const auto found = value_.find(field);
    return found == value_.end() ? nullptr : &*found;
  }
  Json value_;
};

// Prices, volumes and amounts: what seven reading characters can hold.
constexpr double kMostMoney = 999999;

std::vector<std::string> split_path(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t at = 0;
  while (at < path.size()) {
    const std::size_t slash = path.find('/', at);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > at) parts.push_back(path.substr(at, end - at));
    at = end + 1;
  }
  return parts;
}

Json pump_json(const PumpView& pump) {
  Json result{{"line", pump.line},
              {"pump", pump.pump},
              {"state", pump.state},
              {"label", pump_state_label(pump.state)},
              {"nozzle", pump.nozzle},
              {"delivery",
               {{"running", delivery_active(pump.state)},
                {"volume", pump.delivery.volume},
                {"amount", pump.delivery.amount}}},
              {"error", pump.error.empty() ? Json() : Json(pump.error)}};
  return result;
}

Json line_json(const LineView& line) {
  Json pumps = Json::array();
  for (const PumpView& pump : line.pumps) pumps.push_back(pump.pump);
  return Json{{"line", line.line},
              {"device", line.device},
              {"up", line.ready && line.down.empty()},
              {"error", line.down.empty() ? Json() : Json(line.down)},
              {"pumps", std::move(pumps)},
              {"sweeps", line.sweeps},
              {"polls", line.polls}};
}

int status_of(Outcome outcome) {
  switch (outcome) {
    case Outcome::kDone:
      return 200;
    case Outcome::kRefused:
      return 409;
    case Outcome::kRejected:
      return 400;
    case Outcome::kNoAnswer:
    case Outcome::kStopped:
      return 503;
    case Outcome::kFailed:
      break;
  }
  return 500;
}

// The member of a command's request that holds the value a driver refused.
std::string value_field(const Json& request) {
  for (const char* field : {"price", "value", "number", "nozzle"}) {
    if (request.contains(field)) return field;
  }
  return {};
}

}  // namespace

ApiResponse api_error(int status, const std::string& message, const std::string& field) {
  Json body{{"error", message}};
  if (!field.empty()) body["field"] = field;
  return ApiResponse{status, std::move(body)};
}

Api::Api(Station& station, std::string version, std::chrono::milliseconds command_timeout)
    : station_(station),
      version_(std::move(version)),
      driver_name_(station.driver_name()),
      command_timeout_(command_timeout),
      pump_texts_(std::size_t{kLastLine} * kLastPump),
      line_texts_(kLastLine) {}

ApiResponse Api::handle(const ApiRequest& request) const {
  try {
    const std::vector<std::string> parts = split_path(request.path);
    // parts[0..1] are "api", "v1".
    if (parts.size() < 3 || "/" + parts[0] + "/" + parts[1] != kApiRoot) {
      return api_error(404, "no such resource: " + request.path);
    }
    const std::string& what = parts[2];
    const bool get = request.method == "GET";
    if (parts.size() == 3 && get && what == "station") return station();
    if (parts.size() == 3 && get && what == "pumps") return pumps();
    if (parts.size() == 3 && get && what == "deliveries") return deliveries(request);
    if (what == "lines" && parts.size() >= 4) return on_pump(request, parts);
    return api_error(404, "no such resource: " + request.method + " " + request.path);
  } catch (const Refusal& refusal) {
    return api_error(refusal.status, refusal.message, refusal.field);
  }
}

ApiResponse Api::station() const {
  Json lines = Json::array();
  for (const LineView& line : station_.lines()) lines.push_back(line_json(line));
  return {200, Json{{"driver", driver_name_},
                    {"version", version_},
                    {"simulated", station_.session().simulated()},
                    {"lines", std::move(lines)}}};
}

ApiResponse Api::pumps() const {
  ApiResponse answer{200, Json(), R"({"pumps":[)"};
  const std::lock_guard lock(texts_mutex_);
  answer.text.reserve(pumps_size_);
  for (const LineView& line : station_.lines()) {
    if (line.pumps.empty()) continue;
    std::uint64_t newest = 0;
    for (const PumpView& pump : line.pumps) newest = std::max(newest, pump.revision);
    LineText& joined = line_texts_.at(line.line - kFirstLine);
    if (joined.newest != newest || joined.pumps != line.pumps.size()) {
      joined = LineText{newest, line.pumps.size(), {}};
      for (const PumpView& pump : line.pumps) {
        PumpText& written =
            pump_texts_.at((std::size_t{line.line} - kFirstLine) * kLastPump + pump.pump - 1);
        if (written.revision != pump.revision || written.text.empty()) {
          written = PumpText{pump.revision, json_text(pump_json(pump))};
        }
        if (!joined.text.empty()) joined.text += ',';
        joined.text += written.text;
      }
    }
    if (answer.text.back() != '[') answer.text += ',';
    answer.text += joined.text;
  }
  answer.text += "]}";
  pumps_size_ = answer.text.size() + 1;  // and the line's end
  return answer;
}

ApiResponse Api::deliveries(const ApiRequest& request) const {
  std::string since;
  std::optional<std::uint32_t> line, pump;
  for (const auto& [key, value] : request.query) {
    if (key == "since") {
      if (const std::string problem = since_problem(value); !problem.empty()) {
        throw Refusal{400, "since: " + problem, "since"};
      }
      since = value;
    } else if (key == "line") {
      line = path_number(value, "line", kFirstLine, kLastLine);
    } else if (key == "pump") {
      pump = path_number(value, "pump", 1, kLastPump);
    } else {
      throw Refusal{400, key + ": no such parameter here", key};
    }
  }
  Json rows = Json::array();
  if (!station_.journal_path().empty()) {
    for (const JournalRow& row :
         Journal(station_.journal_path(), Journal::Access::kRead).rows_since(since)) {
      if ((!line || row.entry.line == *line) && (!pump || row.entry.pump == *pump)) {
        rows.push_back(journal_row_json(row));
      }
    }
  }
  return {200, Json{{"deliveries", std::move(rows)}}};
}

ApiResponse Api::on_pump(const ApiRequest& request, const std::vector<std::string>& parts) const {
  const std::uint32_t line = path_number(parts[3], "line", kFirstLine, kLastLine);
  const auto& numbers = station_.line_numbers();
  if (std::find(numbers.begin(), numbers.end(), line) == numbers.end()) {
    return api_error(404, "no line " + std::to_string(line) + " at this station", "line");
  }
  const std::string& method = request.method;
  if (parts.size() == 5 && parts[4] == "stop-all" && method == "POST") {
    [[maybe_unused]] const Body nothing(request.body, {});
    return run(stop_all_command(line), request);
  }
  if (parts.size() < 6 || parts[4] != "pumps") {
    return api_error(404, "no such resource: " + method + " " + request.path);
  }
  const PumpTarget target{line, path_number(parts[5], "pump", 1, kLastPump)};
  if (parts.size() == 6 && method == "GET") {
    const auto pump = station_.pump(target.line, target.pump);
    if (!pump) {
      return api_error(
          404,
          "pump " + std::to_string(target.pump) + " did not answer on line " + std::to_string(line),
          "pump");
    }
    return {200, pump_json(*pump)};
  }
  const std::string action = parts.size() >= 7 ? parts[6] : "";
  if (parts.size() == 7 && method == "POST" && action == "price") {
    const Body body(request.body, {"nozzle", "price"});
    return run(price_command(target, body.whole("nozzle", 1, 6), body.number("price", 0, 9999.99)),
               request);
  }
  if (parts.size() == 7 && method == "POST" && action == "preset") {
    const Body body(request.body, {"nozzle", "volume", "amount"});
    if (body.has("volume") == body.has("amount")) {
      throw Refusal{400, "give volume or amount, one of them", "volume"};
    }
    const bool by_volume = body.has("volume");
    const char* field = by_volume ? "volume" : "amount";
    return run(preset_command(target, body.whole("nozzle", 1, 6),
                              by_volume ? wire::PresetKind::kVolume : wire::PresetKind::kAmount,
                              body.number(field, 0, kMostMoney, false)),
               request);
  }
  if (parts.size() == 7 && method == "POST" && action == "stop") {
    [[maybe_unused]] const Body nothing(request.body, {});
    return run(stop_command(target), request);
  }
  if (parts.size() == 7 && method == "GET" && action == "totals") {
    const auto nozzle = request.query.find("nozzle");
    if (nozzle == request.query.end()) throw Refusal{400, "nozzle: missing", "nozzle"};
    return run(totals_command(target, path_number(nozzle->second, "nozzle", 1, 6)), request);
  }
  if (parts.size() == 8 && action == "parameters" && (method == "GET" || method == "PUT")) {
    const auto number = static_cast<std::int32_t>(path_number(parts[7], "number", 0, 99));
    if (method == "GET") return run(read_param_command(target, number), request);
    const Body body(request.body, {"value"});
    return run(
        write_param_command(target, number, static_cast<std::int32_t>(body.whole("value", 0, 255))),
        request);
  }
  return api_error(404, "no such resource: " + method + " " + request.path);
}

ApiResponse Api::run(Command command, const ApiRequest& request) const {
  const Json asked = command.request;
  std::future<CommandResult> pending = station_.submit(std::move(command), request.client);
  if (pending.wait_for(command_timeout_) != std::future_status::ready) {
    return api_error(503, "the line did not take the command in time; it may still run");
  }
  const CommandResult outcome = pending.get();
  if (outcome.outcome == Outcome::kDone) return {200, outcome.result};
  Json body{{"command", asked.value("command", "")},
            {"outcome", outcome_name(outcome.outcome)},
            {"error", outcome.error}};
  if (outcome.outcome == Outcome::kRejected) {
    if (const std::string field = value_field(asked); !field.empty()) body["field"] = field;
  }
  return {status_of(outcome.outcome), std::move(body)};
}

Json Api::event_json(const StationEvent& event) {
  Json body = event.body;
  body["id"] = event.id;
  return body;
}

std::vector<Json> Api::deliveries_after(std::int64_t id) const {
  std::vector<Json> events;
  if (station_.journal_path().empty()) return events;
  for (const JournalRow& row :
       Journal(station_.journal_path(), Journal::Access::kRead).rows_after(id)) {
    events.push_back(delivery_event(row.entry, row.id));
  }
  return events;
}

std::int64_t Api::newest_delivery() const {
  if (station_.journal_path().empty()) return 0;
  try {
    return Journal(station_.journal_path(), Journal::Access::kRead).last_id();
  } catch (const std::exception&) {
    return 0;
  }
}

const std::string& openapi_document() {
  static const std::string document = [] {
    for (const WebAsset& asset : web_assets()) {
      if (asset.path == "/openapi.json") return std::string(asset.body);
    }
    return std::string("{}");
  }();
  return document;
}

}  // namespace zarvo::host
