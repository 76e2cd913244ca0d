#include "host/tools/journal.h"

#include <sqlite3.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace zarvo::host {

namespace {

constexpr const char* kTable =
    "CREATE TABLE IF NOT EXISTS deliveries ("
    " id INTEGER PRIMARY KEY,"
    " recorded_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ', 'now')),"
    " line INTEGER NOT NULL,"
    " pump INTEGER NOT NULL,"
    " transaction_no INTEGER NOT NULL,"
    " volume REAL NOT NULL,"
    " amount REAL NOT NULL,"
    " follows INTEGER)";
// Journals of the first version have no `follows`: each row gets the row
// before it for its pump, in the order written. Rows a program of that
// version adds later (`follows` empty) are filled in the same way, and the
// unique key leaves them alone until then.
constexpr const char* kHasFollows = "SELECT follows FROM deliveries LIMIT 0";
constexpr const char* kAddFollows = "ALTER TABLE deliveries ADD COLUMN follows INTEGER";
constexpr const char* kPumpIndex =
    "CREATE INDEX IF NOT EXISTS deliveries_by_pump ON deliveries (line, pump)";
constexpr const char* kFillFollows =
    "UPDATE deliveries SET follows = COALESCE((SELECT MAX(p.id) FROM deliveries p"
    " WHERE p.line = deliveries.line AND p.pump = deliveries.pump AND p.id < deliveries.id), 0)"
    " WHERE follows IS NULL";
constexpr const char* kChainKey =
    "CREATE UNIQUE INDEX IF NOT EXISTS deliveries_chain ON deliveries (line, pump, follows)"
    " WHERE follows IS NOT NULL";

constexpr const char* kListing =
    "SELECT id, recorded_at, line, pump, transaction_no, volume, amount FROM deliveries"
    " WHERE ?1 = '' OR julianday(recorded_at) >= julianday(?1) ORDER BY id";
constexpr const char* kRowsAfter =
    "SELECT id, recorded_at, line, pump, transaction_no, volume, amount FROM deliveries"
    " WHERE id > ? ORDER BY id";
constexpr const char* kNewest =
    "SELECT id, transaction_no, volume, amount FROM deliveries WHERE line = ? AND pump = ?"
    " ORDER BY id DESC LIMIT 1";
constexpr const char* kInsert =
    "INSERT INTO deliveries (line, pump, transaction_no, volume, amount, follows)"
    " VALUES (?, ?, ?, ?, ?, ?)";

// How long a statement waits for another process's write to end.
constexpr int kBusyTimeoutMs = 2000;
// Amounts carry up to three decimals: readings are the same when equal at that.
constexpr double kReadingScale = 1000;

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

// A write transaction, taken at once so that what it reads stays true until
// it commits; rolled back unless committed.
class WriteTransaction {
 public:
  explicit WriteTransaction(sqlite3* db) : db_(db) {
    began_ = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~WriteTransaction() {
    if (began_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  bool began() const { return began_; }
  bool commit() {
    if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) return false;
    began_ = false;
    return true;
  }

 private:
  sqlite3* db_;
  bool began_ = false;
};

bool same_reading(double a, double b) {
  return std::llround(a * kReadingScale) == std::llround(b * kReadingScale);
}

}  // namespace

std::string reading_text(double value) {
  char text[64];
  const auto [end, error] =
      std::to_chars(std::begin(text), std::end(text), value, std::chars_format::fixed, 3);
  if (error != std::errc()) return "?";
  std::string shown(std::begin(text), end);
  if (shown.size() > 4 && shown.back() == '0' && shown[shown.size() - 4] == '.') shown.pop_back();
  return shown;
}

Journal::Journal(const std::string& path, Access access) : path_(path) {
  // The destructor does not run when the constructor throws.
  try {
    if (access == Access::kRead) {
      open_for_reading(path);
    } else {
      open_for_writing(path);
    }
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

Journal::~Journal() {
  sqlite3_close(db_);
}

void Journal::fail(const std::string& what) const {
  if (db_ == nullptr) throw std::runtime_error(what + ": out of memory");
  std::string why = sqlite3_errmsg(db_);
  switch (sqlite3_errcode(db_) & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      why += " (another process holds it; try again)";
      break;
    case SQLITE_NOTADB:
      why = "not a journal (" + why + ")";
      break;
    case SQLITE_READONLY:
      why += " (the file or its disk is read-only)";
      break;
    default:
      break;
  }
  throw std::runtime_error(what + ": " + why);
}

void Journal::open_for_writing(const std::string& path) {
  std::error_code error;
  if (std::filesystem::is_directory(path, error)) {
    throw std::runtime_error("cannot open the journal " + path + ": it is a directory");
  }
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK) {
    fail("cannot open the journal " + path);
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // SQLite falls back to reading a file it may not write; a monitor would
  // then withhold every acknowledgement, so it is refused at once.
  if (sqlite3_db_readonly(db_, "main") == 1) {
    throw std::runtime_error("cannot write the journal " + path +
                             ": the file or its disk is read-only");
  }
  WriteTransaction update(db_);
  if (!update.began()) fail("cannot write the journal " + path);
  const auto run = [this, &path](const char* sql) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      fail("cannot set up the journal " + path);
    }
  };
  run(kTable);
  if (Statement(db_, kHasFollows).get() == nullptr) run(kAddFollows);
  run(kPumpIndex);
  run(kFillFollows);
  run(kChainKey);
  if (!update.commit()) fail("cannot write the journal " + path);
}

void Journal::open_for_reading(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (status.type() == fs::file_type::none) {
    throw std::runtime_error("cannot read the journal " + path + ": " + error.message());
  }
  // Reading never creates a file, not even an empty database.
  if (!fs::exists(status)) throw std::runtime_error("no journal " + path + ": no such file");
  if (fs::is_directory(status)) {
    throw std::runtime_error(path + " is a directory, not a journal");
  }
  if (!fs::is_regular_file(status)) throw std::runtime_error(path + " is not a journal file");
  // SQLite only says that it cannot open a file; the system says why.
  if (std::FILE* probe = std::fopen(path.c_str(), "rb")) {
    std::fclose(probe);
  } else {
    throw std::runtime_error("cannot read the journal " + path + ": " + std::strerror(errno));
  }
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    fail("cannot open the journal " + path);
  }
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_stmt* probe = nullptr;
  const int prepared = sqlite3_prepare_v2(db_, kListing, -1, &probe, nullptr);
  sqlite3_finalize(probe);
  if (prepared == SQLITE_OK) return;
  // A database, but without the table of deliveries.
  if (prepared == SQLITE_ERROR) {
    throw std::runtime_error(path + " is not a journal: " + sqlite3_errmsg(db_));
  }
  fail("cannot read the journal " + path);
}

void Journal::record(const JournalEntry& entry) {
  append(entry, false);
}

bool Journal::record_once(const JournalEntry& entry) {
  return append(entry, true);
}

bool Journal::append(const JournalEntry& entry, bool unless_repeat) {
  // The unique key refuses a second row after the same one; with the write
  // lock taken first that cannot happen, but a writer that takes none is
  // then met by the key, and the newest row is read again.
  constexpr int kAttempts = 3;
  for (int attempt = 1;; ++attempt) {
    WriteTransaction write(db_);
    if (!write.began()) fail("cannot write the journal " + path_);
    const Statement newest(db_, kNewest);
    if (newest.get() == nullptr) fail("cannot read the journal " + path_);
    sqlite3_bind_int64(newest.get(), 1, entry.line);
    sqlite3_bind_int64(newest.get(), 2, entry.pump);
    std::int64_t follows = 0;
    const int found = sqlite3_step(newest.get());
    if (found == SQLITE_ROW) {
      sqlite3_stmt* row = newest.get();
      follows = sqlite3_column_int64(row, 0);
      const bool repeat = sqlite3_column_int64(row, 1) == entry.transaction &&
                          same_reading(sqlite3_column_double(row, 2), entry.volume) &&
                          same_reading(sqlite3_column_double(row, 3), entry.amount);
      if (unless_repeat && repeat) return false;
    } else if (found != SQLITE_DONE) {
      fail("cannot read the journal " + path_);
    }
    const Statement insert(db_, kInsert);
    if (insert.get() == nullptr) fail("cannot write the journal " + path_);
    sqlite3_stmt* row = insert.get();
    sqlite3_bind_int64(row, 1, entry.line);
    sqlite3_bind_int64(row, 2, entry.pump);
    sqlite3_bind_int64(row, 3, entry.transaction);
    sqlite3_bind_double(row, 4, entry.volume);
    sqlite3_bind_double(row, 5, entry.amount);
    sqlite3_bind_int64(row, 6, follows);
    const int step = sqlite3_step(row);
    if (step == SQLITE_CONSTRAINT && attempt < kAttempts) continue;
    if (step != SQLITE_DONE || !write.commit()) fail("cannot write the journal " + path_);
    return true;
  }
}

std::int64_t Journal::count() const {
  const Statement query(db_, "SELECT COUNT(*) FROM deliveries");
  if (query.get() == nullptr) fail("cannot read the journal " + path_);
  return sqlite3_step(query.get()) == SQLITE_ROW ? sqlite3_column_int64(query.get(), 0) : 0;
}

std::int64_t Journal::last_id() const {
  const Statement query(db_, "SELECT COALESCE(MAX(id), 0) FROM deliveries");
  if (query.get() == nullptr) fail("cannot read the journal " + path_);
  return sqlite3_step(query.get()) == SQLITE_ROW ? sqlite3_column_int64(query.get(), 0) : 0;
}

std::int64_t Journal::last_written_id() const {
  return sqlite3_last_insert_rowid(db_);
}

std::vector<JournalEntry> Journal::entries_after(std::int64_t id) const {
  std::vector<JournalEntry> entries;
  for (JournalRow& row : rows_after(id)) entries.push_back(row.entry);
  return entries;
}

std::vector<JournalRow> Journal::rows_after(std::int64_t id) const {
  const Statement query(db_, kRowsAfter);
  if (query.get() == nullptr) fail("cannot read the journal " + path_);
  sqlite3_bind_int64(query.get(), 1, id);
  return rows_of(query.get());
}

std::vector<JournalRow> Journal::rows_since(const std::string& since) const {
  const Statement query(db_, kListing);
  if (query.get() == nullptr) fail("cannot read the journal " + path_);
  sqlite3_bind_text(query.get(), 1, since.c_str(), -1, SQLITE_TRANSIENT);
  return rows_of(query.get());
}

std::vector<JournalRow> Journal::rows_of(sqlite3_stmt* row) const {
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
  if (step != SQLITE_DONE) fail("cannot read the journal " + path_);
  return rows;
}

}  // namespace zarvo::host
