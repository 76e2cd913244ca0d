// The transaction journal: each completed delivery once, in an SQLite file.
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

class Journal {
 public:
  enum class Access { kWrite, kRead };
  // For writing, creates the file and its table when missing; for reading,
  // opens an existing journal only and changes nothing in it. Throws
  // std::runtime_error.
  explicit Journal(const std::string& path, Access access = Access::kWrite);
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  void record(const JournalEntry& entry);
  std::int64_t count() const;
  // The row id of the newest entry, 0 when there is none.
  std::int64_t last_id() const;
  // Each pump's newest entry, for a monitor that resumes.
  std::vector<JournalEntry> newest_per_pump() const;
  // The entries written after row `id`, oldest first.
  std::vector<JournalEntry> entries_after(std::int64_t id) const;
  // The entries recorded at or after `since` (a date and time SQLite reads,
  // UTC unless it names its zone; empty: all), oldest first.
  std::vector<JournalRow> rows_since(const std::string& since) const;

 private:
  [[noreturn]] void fail(const std::string& what) const;
  // Runs a query of entries with one row id parameter.
  std::vector<JournalEntry> select(const char* sql, std::int64_t id) const;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

}  // namespace zarvo::host
