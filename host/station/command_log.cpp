#include "host/station/command_log.h"

#include <sqlite3.h>

#include <stdexcept>

namespace zarvo::host {

namespace {

constexpr const char* kTable =
    "CREATE TABLE IF NOT EXISTS commands ("
    " id INTEGER PRIMARY KEY,"
    " recorded_at TEXT NOT NULL DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ', 'now')),"
    " client TEXT NOT NULL,"
    " line INTEGER NOT NULL,"
    " pump INTEGER NOT NULL,"
    " command TEXT NOT NULL,"
    " outcome TEXT NOT NULL,"
    " detail TEXT NOT NULL)";
constexpr const char* kInsert =
    "INSERT INTO commands (client, line, pump, command, outcome, detail) VALUES (?, ?, ?, ?, ?, ?)";
constexpr int kBusyTimeoutMs = 2000;

}  // namespace

CommandLog::CommandLog(const std::string& path) : path_(path.empty() ? ":memory:" : path) {
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
          SQLITE_OK ||
      (sqlite3_busy_timeout(db_, kBusyTimeoutMs),
       sqlite3_exec(db_, kTable, nullptr, nullptr, nullptr)) != SQLITE_OK) {
    const std::string why = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    sqlite3_close(db_);
    throw std::runtime_error("cannot keep the commands in " + path_ + ": " + why);
  }
}

CommandLog::~CommandLog() {
  sqlite3_close(db_);
}

void CommandLog::record(const CommandRecord& record) {
  std::lock_guard lock(mutex_);
  sqlite3_stmt* row = nullptr;
  int step = sqlite3_prepare_v2(db_, kInsert, -1, &row, nullptr);
  if (step == SQLITE_OK) {
    sqlite3_bind_text(row, 1, record.client.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(row, 2, record.line);
    sqlite3_bind_int64(row, 3, record.pump);
    sqlite3_bind_text(row, 4, record.command.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(row, 5, record.outcome.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(row, 6, record.detail.c_str(), -1, SQLITE_TRANSIENT);
    step = sqlite3_step(row);
  }
  sqlite3_finalize(row);
  if (step != SQLITE_DONE) {
    throw std::runtime_error("cannot record the command in " + path_ + ": " + sqlite3_errmsg(db_));
  }
}

}  // namespace zarvo::host
