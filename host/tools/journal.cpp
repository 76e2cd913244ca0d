#include "host/tools/journal.h"

#include <sqlite3.h>

#include <filesystem>
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
constexpr const char* kListing =
    "SELECT id, recorded_at, line, pump, transaction_no, volume, amount FROM deliveries"
    " WHERE ?1 = '' OR julianday(recorded_at) >= julianday(?1) ORDER BY id";
constexpr const char* kInsert =
    "INSERT INTO deliveries (line, pump, transaction_no, volume, amount) VALUES (?, ?, ?, ?, ?)";
}  // namespace

Journal::Journal(const std::string& path, Access access) {
  // A failed open still hands out a handle; the destructor does not run when
  // the constructor throws, so every failure closes what was opened.
  const auto give_up = [this](const std::string& message) {
    const std::string text =
        message + ": " + (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_finalize(insert_);
    sqlite3_close(db_);
    throw std::runtime_error(text);
  };
  if (access == Access::kRead) {
    // Reading never creates a file, not even an empty database.
    if (!std::filesystem::is_regular_file(path)) {
      throw std::runtime_error("no journal " + path + ": no such file");
    }
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      give_up("cannot open the journal " + path);
    }
    sqlite3_busy_timeout(db_, 2000);
    sqlite3_stmt* probe = nullptr;
    const int prepared = sqlite3_prepare_v2(db_, kListing, -1, &probe, nullptr);
    sqlite3_finalize(probe);
    if (prepared != SQLITE_OK) give_up(path + " is not a journal");
    return;
  }
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

namespace {
// Finalizes a statement on every way out.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};
}  // namespace

std::int64_t Journal::count() const {
  const Statement query(db_, "SELECT COUNT(*) FROM deliveries");
  if (query.get() == nullptr) fail("cannot read the journal");
  return sqlite3_step(query.get()) == SQLITE_ROW ? sqlite3_column_int64(query.get(), 0) : 0;
}

std::int64_t Journal::last_id() const {
  const Statement query(db_, "SELECT COALESCE(MAX(id), 0) FROM deliveries");
  if (query.get() == nullptr) fail("cannot read the journal");
  return sqlite3_step(query.get()) == SQLITE_ROW ? sqlite3_column_int64(query.get(), 0) : 0;
}

std::vector<JournalEntry> Journal::entries_after(std::int64_t id) const {
  return select(
      "SELECT line, pump, transaction_no, volume, amount FROM deliveries WHERE id > ? ORDER BY id",
      id);
}

std::vector<JournalEntry> Journal::newest_per_pump() const {
  return select(
      "SELECT line, pump, transaction_no, volume, amount FROM deliveries WHERE id IN"
      " (SELECT MAX(id) FROM deliveries GROUP BY line, pump) AND id > ? ORDER BY id",
      0);
}

std::vector<JournalEntry> Journal::select(const char* sql, std::int64_t id) const {
  const Statement query(db_, sql);
  if (query.get() == nullptr) fail("cannot read the journal");
  sqlite3_bind_int64(query.get(), 1, id);
  std::vector<JournalEntry> entries;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(query.get())) == SQLITE_ROW) {
    sqlite3_stmt* row = query.get();
    entries.push_back({static_cast<std::uint32_t>(sqlite3_column_int64(row, 0)),
                       static_cast<std::uint32_t>(sqlite3_column_int64(row, 1)),
                       static_cast<std::uint32_t>(sqlite3_column_int64(row, 2)),
                       sqlite3_column_double(row, 3), sqlite3_column_double(row, 4)});
  }
  if (step != SQLITE_DONE) fail("cannot read the journal");
  return entries;
}

std::vector<JournalRow> Journal::rows_since(const std::string& since) const {
  const Statement query(db_, kListing);
  if (query.get() == nullptr) fail("cannot read the journal");
  sqlite3_stmt* row = query.get();
  sqlite3_bind_text(row, 1, since.c_str(), -1, SQLITE_TRANSIENT);
  std::vector<JournalRow> rows;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(row)) == SQLITE_ROW) {
    const auto* recorded_at = sqlite3_column_text(row, 1);
    rows.push_back({sqlite3_column_int64(row, 0),
                    recorded_at != nullptr ? reinterpret_cast<const char*>(recorded_at) : "",
                    {static_cast<std::uint32_t>(sqlite3_column_int64(row, 2)),
                     static_cast<std::uint32_t>(sqlite3_column_int64(row, 3)),
                     static_cast<std::uint32_t>(sqlite3_column_int64(row, 4)),
                     sqlite3_column_double(row, 5), sqlite3_column_double(row, 6)}});
  }
  if (step != SQLITE_DONE) fail("cannot read the journal");
  return rows;
}

}  // namespace zarvo::host
