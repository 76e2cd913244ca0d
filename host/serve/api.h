// The station's HTTP API under /api/v1, apart from the HTTP library: a
// request's method, path, query and body in, a status and a JSON body out,
// in the vocabulary of `zarvo --json`. It reads the station's views and
// queues commands on it; it never calls the driver.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/output/json.h"
#include "host/station/station.h"

namespace zarvo::host {

inline constexpr const char* kApiRoot = "/api/v1";

struct ApiRequest {
  std::string method;  // GET, POST, PUT
  std::string path;    // from kApiRoot on, without the query
  std::map<std::string, std::string> query;
  std::string body;
  std::string client;  // address and port, for the record
};

struct ApiResponse {
  int status = 200;
  Json body;
  std::string text{};  // when not empty, the body already written out, in place of `body`
};

// An error as the API answers it: {"error": ..., "field": ...}.
ApiResponse api_error(int status, const std::string& message, const std::string& field = {});

class Api {
 public:
  // `command_timeout`: how long a request waits for its command's outcome.
  Api(Station& station, std::string version,
      std::chrono::milliseconds command_timeout = std::chrono::seconds(30));

  ApiResponse handle(const ApiRequest& request) const;

  // One event as a client sees it: the station's event with its number.
  static Json event_json(const StationEvent& event);
  // The deliveries journaled after row `id`, oldest first, as delivery events.
  std::vector<Json> deliveries_after(std::int64_t id) const;
  // The journal's newest row id, 0 for none or no journal file.
  std::int64_t newest_delivery() const;

 private:
  ApiResponse station() const;
  ApiResponse pumps() const;
  ApiResponse deliveries(const ApiRequest& request) const;
  ApiResponse on_pump(const ApiRequest& request, const std::vector<std::string>& parts) const;
  ApiResponse run(Command command, const ApiRequest& request) const;

  // A pump's JSON as written for one revision of its view.
  struct PumpText {
    std::uint64_t revision = 0;
    std::string text;
  };

  Station& station_;
  std::string version_;
  std::string driver_name_;
  std::chrono::milliseconds command_timeout_;
  // A line's pumps' texts, joined, as written when its newest view was the
  // revision named.
  struct LineText {
    std::uint64_t newest = 0;
    std::size_t pumps = 0;
    std::string text;
  };

  // Every pump's text, and every line's, written again only when a view
  // changed: the whole forecourt is read often and changes a few pumps at a
  // time. Flat tables by line and pump: a tree's nodes cost a cache miss each.
  mutable std::mutex texts_mutex_;
  mutable std::vector<PumpText> pump_texts_;
  mutable std::vector<LineText> line_texts_;
  mutable std::size_t pumps_size_ = 0;  // the last answer's, to reserve
};

// The API's OpenAPI 3 document (docs/openapi.json, compiled in).
const std::string& openapi_document();

}  // namespace zarvo::host
