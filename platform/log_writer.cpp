// The log's writer thread, and the one writer of the process that every
// logging driver object shares.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/driver_log.h"
#include "platform/log_file.h"
#include "platform/signal_free_thread.h"

namespace zarvo::platform {
namespace {

// How long the writer sleeps when nobody wakes it: the most a line waits.
constexpr std::chrono::milliseconds kIdleWake{50};
// Lines are written in batches of about this size.
constexpr std::size_t kBatchBytes = std::size_t{64} * 1024;

std::int64_t wall_clock_offset_ns() {
  using std::chrono::duration_cast;
  using std::chrono::nanoseconds;
  const auto wall = std::chrono::system_clock::now().time_since_epoch();
  return duration_cast<nanoseconds>(wall).count() - DriverLog::Now();
}

// "2026-12-09T14:30:05.123Z ": UTC, as the whole log.
void append_time(std::string& out, std::int64_t wall_ns) {
  using namespace std::chrono;
  const sys_time<milliseconds> time{floor<milliseconds>(nanoseconds(wall_ns))};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ ", int(date.year()),
                unsigned(date.month()), unsigned(date.day()), int(clock.hours().count()),
                int(clock.minutes().count()), int(clock.seconds().count()),
                int(clock.subseconds().count()));
  out += text;
}

}  // namespace

class LogWriter {
 public:
  explicit LogWriter(LogFormatter format)
      : format_(format), thread_(StartThreadWithoutSignals([this] { Run(); })) {}
  ~LogWriter() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Settings of an object that opens the log: a file that is not open, or
  // another file, is opened at the writer's next round.
  void Configure(const LogSettings& settings) {
    {
      std::lock_guard lock(mutex_);
      pending_ = settings;
    }
    wake_.notify_one();
  }

  void Wake() noexcept {
    nudged_.store(true, std::memory_order_relaxed);
    wake_.notify_one();
  }

  LogQueue queue;
  std::atomic<std::uint64_t> dropped{0};

 private:
  void Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
      wake_.wait_for(lock, kIdleWake, [&] { return stop_ || pending_ || nudged_.load(); });
      nudged_.store(false, std::memory_order_relaxed);
      const bool stopping = stop_;
      const std::optional<LogSettings> settings = std::exchange(pending_, std::nullopt);
      lock.unlock();
      if (settings) Apply(*settings);
      Drain();
      lock.lock();
      if (stopping) break;
    }
    Flush();
    file_.Close();
  }

  void Apply(const LogSettings& settings) {
    if (file_.is_open() && settings == settings_) return;
    Flush();
    file_.Close();
    settings_ = settings;
    OpenFile();
  }

  void OpenFile() {
    if (!file_.Open(settings_.path)) return;
    rotate_at_ = settings_.max_bytes;
    // A line a failed write left unfinished is ended before the next.
    if (!file_.EndsLine()) Put("\n", 0);
    if (unwritten_ > 0) {
      const std::uint64_t lost = std::exchange(unwritten_, 0);
      Note(std::to_string(lost) + " events before this line could not be written to the log file");
    }
  }

  void Drain() {
    wall_offset_ns_ = wall_clock_offset_ns();
    while (queue.pop([&](const LogRecord& record) { Emit(record); })) {
    }
    if (const std::uint64_t lost = dropped.exchange(0)) {
      Note(std::to_string(lost) + " events were not logged: the log's queue was full");
    }
    Flush();
  }

  void Emit(const LogRecord& record) {
    try {
      line_.clear();
      append_time(line_, record.time_ns + wall_offset_ns_);
      format_(record, line_);
      line_ += '\n';
      Put(line_, 1);
    } catch (...) {
      ++unwritten_;  // no memory for the line
    }
  }

  // The writer's own lines, stamped now.
  void Note(const std::string& text) {
    std::string line;
    append_time(line, DriverLog::Now() + wall_clock_offset_ns());
    line += text;
    line += '\n';
    Put(line, 1);
  }

  void Put(std::string_view line, std::size_t lines) {
    if (!file_.is_open()) {
      unwritten_ += lines;
      return;
    }
    const std::uint64_t size = file_.size() + batch_.size();
    if (rotate_at_ > 0 && size > 0 && size + line.size() > rotate_at_) {
      Flush();
      Rotate();
      if (!file_.is_open()) {
        unwritten_ += lines;
        return;
      }
    }
    batch_ += line;
    batch_lines_ += lines;
    if (batch_.size() >= kBatchBytes) Flush();
  }

  void Flush() {
    if (batch_.empty()) return;
    if (!file_.is_open() || !file_.Append(batch_)) {
      // Full disk, or the file went away: tried again when an object opens the log.
      unwritten_ += batch_lines_;
      file_.Close();
    }
    batch_.clear();
    batch_lines_ = 0;
  }

  // path -> path.1 -> ... -> path.<keep>; the oldest is replaced.
  void Rotate() {
    const std::string& path = settings_.path;
    file_.Close();
    if (settings_.keep == 0) {
      RemoveFile(path);
    } else {
      for (unsigned k = settings_.keep - 1; k >= 1; --k) {
        MoveFileOver(path + "." + std::to_string(k), path + "." + std::to_string(k + 1));
      }
      MoveFileOver(path, path + ".1");
    }
    if (!file_.Open(path)) return;
    // A file that could not be moved aside (another program holds it) grows
    // by one more limit before the next try.
    rotate_at_ = file_.size() + settings_.max_bytes;
  }

  ModuleHold hold_;  // let go only after the thread has ended
  LogFormatter format_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::optional<LogSettings> pending_;
  std::atomic<bool> nudged_{false};

  // The writer thread's own.
  LogSettings settings_;
  LogFile file_;
  std::uint64_t rotate_at_ = 0;
  std::string line_;
  std::string batch_;
  std::size_t batch_lines_ = 0;
  std::uint64_t unwritten_ = 0;
  std::int64_t wall_offset_ns_ = 0;

  std::thread thread_;  // last: it runs on everything above
};

namespace {

// The process's one writer, shared by every driver object that logs.
struct Registry {
  Registry() = default;
  Registry(const Registry&) = delete;
  Registry& operator=(const Registry&) = delete;
  // Objects the host never destroyed keep the writer at process exit: it is
  // left as it is (on Windows its thread is gone already), never joined here.
  ~Registry() { static_cast<void>(writer.release()); }

  std::mutex mutex;
  std::unique_ptr<LogWriter> writer;
  std::size_t users = 0;
};

Registry& registry() {
  static Registry shared;
  return shared;
}

}  // namespace

void DriverLog::Open(const LogSettings& settings, LogFormatter format) {
  if (writer_ != nullptr) return;
  Registry& shared = registry();
  std::lock_guard lock(shared.mutex);
  try {
    if (!shared.writer) shared.writer = std::make_unique<LogWriter>(format);
    shared.writer->Configure(settings);
  } catch (...) {
    // No memory or no thread: this object does not log.
    if (shared.users == 0) shared.writer.reset();
    return;
  }
  ++shared.users;
  writer_ = shared.writer.get();
  queue_ = &writer_->queue;
  dropped_ = &writer_->dropped;
}

// The last object's destruction stops the writer: on the host's thread, in a
// call of the host's, never while the library is being unloaded.
DriverLog::~DriverLog() {
  if (writer_ == nullptr) return;
  Registry& shared = registry();
  std::lock_guard lock(shared.mutex);
  if (--shared.users == 0) shared.writer.reset();
}

void DriverLog::Wake() const noexcept {
  writer_->Wake();
}

std::string LogPathBeside(std::string_view settings_file, std::string_view path) {
  if (path.empty() || IsAbsolutePath(path)) return std::string(path);
  const std::size_t folder_end = settings_file.find_last_of(
      kPathSeparator == '/' ? std::string_view("/") : std::string_view("\\/"));
  if (folder_end == std::string_view::npos) return std::string(path);
  return std::string(settings_file.substr(0, folder_end + 1)) + std::string(path);
}

}  // namespace zarvo::platform
