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

class Journal {
 public:
  // Creates the file and its table when missing; throws std::runtime_error.
  explicit Journal(const std::string& path);
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

 private:
  [[noreturn]] void fail(const std::string& what) const;
  // Runs a query of entries with one row id parameter.
  std::vector<JournalEntry> select(const char* sql, std::int64_t id) const;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

}  // namespace zarvo::host
