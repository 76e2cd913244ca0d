#include "platform/ini_text.h"

#include <algorithm>
#include <charconv>

namespace zarvo::platform {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

struct Line {
  std::size_t begin;  // first byte
  std::size_t end;    // one past the last byte before the line ending
  std::size_t next;   // first byte of the next line
};

// Lines end at LF, CRLF or a lone CR, as the Windows reader takes them.
std::optional<Line> line_at(std::string_view text, std::size_t pos) {
  if (pos >= text.size()) return std::nullopt;
  const std::size_t stop = text.find_first_of("\r\n", pos);
  if (stop == std::string_view::npos) return Line{pos, text.size(), text.size()};
  std::size_t next = stop + 1;
  if (text[stop] == '\r' && next < text.size() && text[next] == '\n') ++next;
  return Line{pos, stop, next};
}

bool ends_a_line(const std::string& text) {
  return !text.empty() && (text.back() == '\n' || text.back() == '\r');
}

std::string_view trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

bool iequals(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view content(std::string_view text, const Line& line) {
  std::string_view s = text.substr(line.begin, line.end - line.begin);
  if (line.begin == 0 && s.starts_with(kUtf8Bom)) s.remove_prefix(kUtf8Bom.size());
  return trim(s);
}

std::optional<std::string_view> section_name(std::string_view trimmed) {
  if (!trimmed.starts_with('[')) return std::nullopt;
  trimmed.remove_prefix(1);
  const std::size_t close = trimmed.find(']');
  return trim(trimmed.substr(0, close));
}

struct KeyValue {
  std::string_view key;
  std::string_view value;
};

std::optional<KeyValue> key_value(std::string_view trimmed) {
  if (trimmed.starts_with(';')) return std::nullopt;
  const std::size_t eq = trimmed.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return KeyValue{trim(trimmed.substr(0, eq)), trim(trimmed.substr(eq + 1))};
}

std::string_view unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// Where one section's lines lie: its header line and the lines up to the next header.
struct SectionSpan {
  Line header;
  std::optional<Line> key_line;  // first line with the key, if any
  std::size_t insert_at;         // after the section's last non-blank line
};

std::optional<SectionSpan> find_section(std::string_view text, std::string_view section,
                                        std::string_view key) {
  std::optional<SectionSpan> found;
  for (auto line = line_at(text, 0); line; line = line_at(text, line->next)) {
    const std::string_view trimmed = content(text, *line);
    if (const auto name = section_name(trimmed)) {
      if (found) break;
      if (iequals(*name, section)) found = SectionSpan{*line, std::nullopt, line->next};
      continue;
    }
    if (!found) continue;
    if (!trimmed.empty()) found->insert_at = line->next;
    if (found->key_line) continue;
    if (const auto kv = key_value(trimmed); kv && iequals(kv->key, key)) found->key_line = *line;
  }
  return found;
}

std::string_view line_ending_of(std::string_view text) {
  const std::size_t newline = text.find('\n');
  if (newline == std::string_view::npos) return "\r\n";
  return (newline > 0 && text[newline - 1] == '\r') ? "\r\n" : "\n";
}

std::string with_entry(std::string_view text, std::string_view section, const IniEntry& entry) {
  const std::string_view eol = line_ending_of(text);
  const std::string key_line = std::string(entry.first) + "=" + entry.second;
  const auto span = find_section(text, section, entry.first);
  std::string out;
  out.reserve(text.size() + key_line.size() + section.size() + 8);
  if (!span) {
    out.append(text);
    if (!out.empty() && !ends_a_line(out)) out.append(eol);
    out.append("[").append(section).append("]").append(eol);
    out.append(key_line).append(eol);
    return out;
  }
  if (span->key_line) {
    out.append(text.substr(0, span->key_line->begin));
    out.append(key_line);
    out.append(text.substr(span->key_line->end));
    return out;
  }
  out.append(text.substr(0, span->insert_at));
  if (!out.empty() && !ends_a_line(out)) out.append(eol);
  out.append(key_line).append(eol);
  out.append(text.substr(span->insert_at));
  return out;
}

}  // namespace

std::optional<std::string> ini_lookup(std::string_view text, std::string_view section,
                                      std::string_view key) {
  const auto span = find_section(text, section, key);
  if (!span || !span->key_line) return std::nullopt;
  const auto kv = key_value(content(text, *span->key_line));
  return std::string(unquote(kv->value));
}

std::string ini_with_entries(std::string_view text, std::string_view section,
                             std::span<const IniEntry> entries) {
  std::string out(text);
  for (const IniEntry& entry : entries) out = with_entry(out, section, entry);
  return out;
}

std::string_view TrimIniBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<long long> ParseIniInteger(std::string_view text) {
  text = TrimIniBlanks(text);
  if (text.starts_with('+')) {
    text.remove_prefix(1);
    if (text.starts_with('-')) return std::nullopt;
  }
  // Values beyond 32 bits are no integer the settings file could hold.
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace zarvo::platform
