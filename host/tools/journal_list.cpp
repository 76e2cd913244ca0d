#include "host/tools/journal_list.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "host/tools/journal.h"

namespace zarvo::host {

namespace {

// Takes `count` digits at `at` when they make a number within low..high.
bool number_at(std::string_view text, std::size_t& at, std::size_t count, int low, int high) {
  if (text.size() < at + count) return false;
  int value = 0;
  for (std::size_t k = at; k < at + count; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    value = value * 10 + (text[k] - '0');
  }
  at += count;
  return value >= low && value <= high;
}

bool char_at(std::string_view text, std::size_t& at, char c) {
  if (at >= text.size() || text[at] != c) return false;
  ++at;
  return true;
}

int days_in_month(int year, int month) {
  constexpr std::array<int, 12> kDays{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays.at(static_cast<std::size_t>(month - 1));
}

// The number that number_at just took.
int taken(std::string_view text, std::size_t at, std::size_t count) {
  int value = 0;
  for (std::size_t k = at - count; k < at; ++k) value = value * 10 + (text[k] - '0');
  return value;
}

// YYYY-MM-DD, then optionally [T or space]HH:MM[:SS[.fff]][Z or +HH:MM]: forms SQLite reads.
// SQLite would take 2026-02-31 for 3 March: a day the month lacks is refused.
bool valid_since(std::string_view text) {
  std::size_t at = 0;
  if (!number_at(text, at, 4, 0, 9999)) return false;
  const int year = taken(text, at, 4);
  if (!char_at(text, at, '-') || !number_at(text, at, 2, 1, 12)) return false;
  const int month = taken(text, at, 2);
  if (!char_at(text, at, '-') || !number_at(text, at, 2, 1, days_in_month(year, month))) {
    return false;
  }
  if (at == text.size()) return true;
  if (!char_at(text, at, 'T') && !char_at(text, at, ' ')) return false;
  if (!number_at(text, at, 2, 0, 23) || !char_at(text, at, ':') || !number_at(text, at, 2, 0, 59)) {
    return false;
  }
  if (char_at(text, at, ':')) {
    if (!number_at(text, at, 2, 0, 59)) return false;
    if (char_at(text, at, '.')) {
      const std::size_t fraction = at;
      while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
      if (at == fraction) return false;
    }
  }
  if (char_at(text, at, 'Z')) return at == text.size();
  if (char_at(text, at, '+') || char_at(text, at, '-')) {
    if (!number_at(text, at, 2, 0, 23) || !char_at(text, at, ':') ||
        !number_at(text, at, 2, 0, 59)) {
      return false;
    }
  }
  return at == text.size();
}

using Cells = std::array<std::string, 7>;

Cells cells_of(const JournalRow& row) {
  const JournalEntry& e = row.entry;
  return {std::to_string(row.id),        row.recorded_at,
          std::to_string(e.line),        std::to_string(e.pump),
          std::to_string(e.transaction), reading_text(e.volume),
          reading_text(e.amount)};
}

const Cells kHeader{"id", "recorded_at", "line", "pump", "transaction", "volume", "amount"};

// Columns as wide as their widest cell; numbers to the right, the time to the left.
std::string table(const std::vector<Cells>& rows) {
  std::array<std::size_t, std::tuple_size_v<Cells>> width{};
  for (const Cells& cells : rows) {
    for (std::size_t k = 0; k < cells.size(); ++k) width[k] = std::max(width[k], cells[k].size());
  }
  std::string text;
  for (const Cells& cells : rows) {
    std::string line;
    for (std::size_t k = 0; k < cells.size(); ++k) {
      const std::string pad(width[k] - cells[k].size(), ' ');
      if (k > 0) line += "  ";
      line += k == 1 ? cells[k] + pad : pad + cells[k];
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    text += (text.empty() ? "" : "\n") + line;
  }
  return text;
}

// Appended rather than built as `"," + field`: GCC 12 at -O3 misreads that form as an
// overlapping copy (-Wrestrict) in the 32-bit builds.
void append_field(std::string& line, const std::string& field) {
  if (!line.empty()) line += ',';
  line += field;
}

}  // namespace

std::string csv_field(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

CLI::App* add_journal_options(CLI::App& app, JournalListOptions& options) {
  auto* command = app.add_subcommand(
      "journal", "list the deliveries a journal holds (opened read-only), oldest first");
  command->add_option("file", options.path, "the SQLite journal of monitor or soak")->required();
  command
      ->add_option("--since", options.since,
                   "deliveries recorded at or after this UTC date and time: 2026-12-09, "
                   "2026-12-09T14:30[:05], a space for the T; Z or +03:00 names a zone")
      ->check(CLI::Validator([](std::string& text) { return since_problem(text); }, "TIME"));
  command->add_flag("--csv", options.csv, "comma-separated values with a header row");
  return command;
}

std::string since_problem(const std::string& text) {
  if (valid_since(text)) return {};
  return "expected a real date and time such as 2026-12-09, 2026-12-09T14:30 or "
         "2026-12-09 14:30:00+03:00, got '" +
         text + "'";
}

Json journal_row_json(const JournalRow& row) {
  const JournalEntry& e = row.entry;
  return Json{{"id", row.id},      {"recorded_at", row.recorded_at}, {"line", e.line},
              {"pump", e.pump},    {"transaction", e.transaction},   {"volume", e.volume},
              {"amount", e.amount}};
}

int list_journal(Output& out, const JournalListOptions& options) {
  if (options.csv && out.json()) throw std::invalid_argument("give --csv or --json, not both");
  const std::vector<JournalRow> rows =
      Journal(options.path, Journal::Access::kRead).rows_since(options.since);
  if (options.csv) {
    std::string header;
    for (const std::string& name : kHeader) append_field(header, name);
    out.note(header);
    for (const JournalRow& row : rows) {
      std::string line;
      for (const std::string& cell : cells_of(row)) append_field(line, csv_field(cell));
      out.note(line);
    }
    return 0;
  }
  if (out.json()) {
    for (const JournalRow& row : rows) out.result(journal_row_json(row), {});
    return 0;
  }
  std::vector<Cells> cells{kHeader};
  for (const JournalRow& row : rows) cells.push_back(cells_of(row));
  out.note(table(cells));
  out.note(std::to_string(rows.size()) + (rows.size() == 1 ? " delivery" : " deliveries"));
  return 0;
}

}  // namespace zarvo::host
