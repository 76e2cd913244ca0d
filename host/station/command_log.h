// Every command a station ran, in the journal's database beside the
// deliveries (table `commands`): when, for whom, what, and how it ended.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

struct sqlite3;

namespace zarvo::host {

struct CommandRecord {
  std::string client;  // who asked: the HTTP client's address, "monitor", ...
  std::uint32_t line = 0;
  std::uint32_t pump = 0;  // 0 for a command to the whole line
  std::string command;     // the request as JSON
  std::string outcome;     // done, refused, no answer, rejected, failed
  std::string detail;      // the result as JSON, or the error
};

class CommandLog {
 public:
  // Creates the table when missing; `path` empty or ":memory:" keeps it in
  // memory. Throws std::runtime_error naming the problem.
  explicit CommandLog(const std::string& path);
  ~CommandLog();
  CommandLog(const CommandLog&) = delete;
  CommandLog& operator=(const CommandLog&) = delete;

  // Throws std::runtime_error when the row cannot be written.
  void record(const CommandRecord& record);

 private:
  std::string path_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

}  // namespace zarvo::host
