// The transaction journal: each completed delivery once, in an SQLite file.
// Each row names the row before it for the same pump (`follows`, 0 for a
// pump's first), under a unique key: two writers can never both append
// after the same row, so the check for a repeat against a pump's newest row
// holds across processes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace zarvo::host {

struct JournalEntry {
  std::uint32_t line = 0;
  std::uint32_t pump = 0;
  std::uint32_t transaction = 0;
  double volume = 0;
  double amount = 0;
};

// One delivery as the journal holds it, for a listing.
struct JournalRow {
  std::int64_t id = 0;
  std::string recorded_at;  // UTC, 2026-12-09T01:15:23.123Z
  JournalEntry entry;
};

// A volume or an amount as the journal's listings show it: two decimals, or
// three when the amount has them (a station counting in thousandths), so
// nothing is rounded away. The C locale's decimal point, whatever the user's.
std::string reading_text(double value);

class Journal {
 public:
  enum class Access { kWrite, kRead };
  // For writing, creates the file and its table when missing and brings a
  // journal of an earlier version up to date; for reading, opens an existing
  // journal only and changes nothing in it. Throws std::runtime_error that
  // names the problem (missing, a directory, unreadable, locked, read-only,
  // not a journal).
  explicit Journal(const std::string& path, Access access = Access::kWrite);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Appends the delivery.
  void record(const JournalEntry& entry);
  // Appends the delivery unless it repeats its pump's newest row: the same
  // transaction number and readings, as a pump reports a delivery again when
  // the answer to its acknowledgement was lost. A dispenser that numbers
  // afresh (restarted, replaced) delivers other readings under a number it
  // used before: that is a new row. The check and the write are one
  // transaction. Returns whether the row was written.
  bool record_once(const JournalEntry& entry);
  std::int64_t count() const;
  // The row id of the newest entry, 0 when there is none.
  std::int64_t last_id() const;
  // The row id this connection wrote last, whatever other writers did since.
  std::int64_t last_written_id() const;
  // The entries written after row `id`, oldest first.
  std::vector<JournalEntry> entries_after(std::int64_t id) const;
  std::vector<JournalRow> rows_after(std::int64_t id) const;
  // The entries recorded at or after `since` (a date and time SQLite reads,
  // UTC unless it names its zone; empty: all), oldest first.
  std::vector<JournalRow> rows_since(const std::string& since) const;

 private:
  [[noreturn]] void fail(const std::string& what) const;
  void open_for_writing(const std::string& path);
  void open_for_reading(const std::string& path);
  bool append(const JournalEntry& entry, bool unless_repeat);
  // The rows a listing query gives, its parameter bound.
  std::vector<JournalRow> rows_of(sqlite3_stmt* query) const;
  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace zarvo::host
