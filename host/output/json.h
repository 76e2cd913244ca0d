// A small JSON value for `--json` output: objects keep their key order.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace zarvo::host {

class Json {
 public:
  using Array = std::vector<Json>;
  using Object = std::vector<std::pair<std::string, Json>>;

  Json() = default;
  Json(bool value) : value_(value) {}
  Json(int value) : value_(static_cast<std::int64_t>(value)) {}
  Json(unsigned value) : value_(static_cast<std::int64_t>(value)) {}
  Json(std::int64_t value) : value_(value) {}
  Json(double value) : value_(value) {}
  Json(std::string value) : value_(std::move(value)) {}
  Json(const char* value) : value_(std::string(value)) {}
  Json(Array value) : value_(std::move(value)) {}
  Json(Object value) : value_(std::move(value)) {}

  static Json object() { return Json(Object{}); }
  // Adds a member to an object (a null value becomes an object first).
  Json& set(std::string key, Json value);

  std::string dump() const;

 private:
  void dump_to(std::string& out) const;
  std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Array, Object> value_{
      nullptr};
};

// Shortest text that reads back as the same double ("2", "0.1", "1e+21").
std::string number_text(double value);

}  // namespace zarvo::host
