#include "host/output/json.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace zarvo::host {

namespace {

void quote(const std::string& text, std::string& out) {
  out += '"';
  for (const char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
          out += escaped;
        } else {
          out += c;
        }
    }
  }
  out += '"';
}

}  // namespace

std::string number_text(double value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

Json& Json::set(std::string key, Json value) {
  if (std::holds_alternative<std::nullptr_t>(value_)) value_ = Object{};
  if (auto* members = std::get_if<Object>(&value_)) {
    for (auto& [name, member] : *members) {
      if (name == key) {
        member = std::move(value);
        return *this;
      }
    }
    members->emplace_back(std::move(key), std::move(value));
  }
  return *this;
}

std::string Json::dump() const {
  std::string out;
  dump_to(out);
  return out;
}

void Json::dump_to(std::string& out) const {
  if (std::holds_alternative<std::nullptr_t>(value_)) {
    out += "null";
  } else if (const bool* b = std::get_if<bool>(&value_)) {
    out += *b ? "true" : "false";
  } else if (const auto* i = std::get_if<std::int64_t>(&value_)) {
    out += std::to_string(*i);
  } else if (const double* d = std::get_if<double>(&value_)) {
    out += std::isfinite(*d) ? number_text(*d) : "null";
  } else if (const auto* s = std::get_if<std::string>(&value_)) {
    quote(*s, out);
  } else if (const auto* array = std::get_if<Array>(&value_)) {
    out += '[';
    for (std::size_t k = 0; k < array->size(); ++k) {
      if (k > 0) out += ',';
      (*array)[k].dump_to(out);
    }
    out += ']';
  } else if (const auto* members = std::get_if<Object>(&value_)) {
    out += '{';
    for (std::size_t k = 0; k < members->size(); ++k) {
      if (k > 0) out += ',';
      quote((*members)[k].first, out);
      out += ':';
      (*members)[k].second.dump_to(out);
    }
    out += '}';
  }
}

}  // namespace zarvo::host
