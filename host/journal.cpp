#include "host/journal.h"

#include <sqlite3.h>

#include <stdexcept>

namespace zarvo::host {

namespace {
constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS deliveries ("
    " id INTEGER PRIMARY KEY,"
    " recorded_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ', 'now')),"
    " line INTEGER NOT NULL,"
    " pump INTEGER NOT NULL,"
    " transaction_no INTEGER NOT NULL,"
    " volume REAL NOT NULL,"
    " amount REAL NOT NULL)";
constexpr const char* kInsert =
    "INSERT INTO deliveries (line, pump, transaction_no, volume, amount) VALUES (?, ?, ?, ?, ?)";
}  // namespace

Journal::Journal(const std::string& path) {
  // A failed open still hands out a handle; the destructor does not run when
  // the constructor throws, so every failure closes what was opened.
  const auto give_up = [this](const std::string& message) {
    const std::string text =
        message + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
    throw std::runtime_error(text);
  };
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    give_up("cannot open the journal " + path);
  }
  sqlite3_busy_timeout(db_, 2000);
  if (sqlite3_exec(db_, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
    give_up("cannot create the journal table in " + path);
  }
  if (sqlite3_prepare_v2(db_, kInsert, -1, &insert_, nullptr) != SQLITE_OK) {
    give_up("cannot prepare the journal");
  }
}

Journal::~Journal() {
  sqlite3_finalize(insert_);
  sqlite3_close(db_);
}

void Journal::fail(const std::string& what) const {
  throw std::runtime_error(what + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory"));
}

void Journal::record(const JournalEntry& entry) {
  sqlite3_reset(insert_);
  sqlite3_bind_int64(insert_, 1, entry.line);
  sqlite3_bind_int64(insert_, 2, entry.pump);
  sqlite3_bind_int64(insert_, 3, entry.transaction);
  sqlite3_bind_double(insert_, 4, entry.volume);
  sqlite3_bind_double(insert_, 5, entry.amount);
  if (sqlite3_step(insert_) != SQLITE_DONE) fail("cannot write the journal");
}

std::int64_t Journal::count() const {
  sqlite3_stmt* query = nullptr;
  if (sqlite3_prepare_v2(db_, "SELECT COUNT(*) FROM deliveries", -1, &query, nullptr) !=
      SQLITE_OK) {
    fail("cannot read the journal");
  }
  const std::int64_t rows = sqlite3_step(query) == SQLITE_ROW ? sqlite3_column_int64(query, 0) : 0;
  sqlite3_finalize(query);
  return rows;
}

}  // namespace zarvo::host
