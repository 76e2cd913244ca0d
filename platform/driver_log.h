// The driver's own log. A calling thread only copies an event's raw facts
// into a slot of a bounded queue: no allocation, no lock, no I/O, never a wait;
// a full queue counts the event as dropped. One writer thread per process
// formats the events into lines and writes them, so that lines of several
// driver objects never split or interleave. The log is off unless an object
// opens it; the writer starts with the first object that does and stops
// (drained, its file closed, its thread joined) when the last one goes.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace zarvo::platform {

enum class LogEvent : std::uint8_t {
  kObjectCreated,
  kObjectDestroyed,
  kSettingsLoaded,    // values: the three settings as stored
  kSettingsSaved,     // values: the three settings as stored
  kSettingsNotSaved,  // text: why
  kMenuEntry,         // detail: what became of the entry; text: its caption
  kSent,              // bytes: the request frame
  kReceived,          // bytes: the reply; values: the result, the refusals, whether whole
  kRefused,           // bytes: the reply refused; detail: why
  kPortException,     // detail: the port's entry that raised
  kFailure,           // detail: the kind; text: the message in code page 1251
};

// A frame, or a message, fits: both are at most 255 and 511 bytes.
inline constexpr std::size_t kLogBytes = 512;
// An event of a line but of no one pump.
inline constexpr std::int32_t kNoPump = -1;

struct LogRecord {
  std::int64_t time_ns = 0;  // steady clock; the writer turns it into the time of day
  LogEvent event = LogEvent::kObjectCreated;
  std::uint8_t detail = 0;
  bool has_line = false;
  std::int32_t line = 0;
  std::int32_t pump = kNoPump;
  std::array<std::int32_t, 3> values{};
  std::uint32_t micros = 0;  // how long it took
  std::uint16_t size = 0;
  std::array<std::uint8_t, kLogBytes> bytes{};

  std::span<const std::uint8_t> data() const { return std::span(bytes).first(size); }
  std::string_view text() const {
    return {reinterpret_cast<const char*>(bytes.data()), size};  // NOLINT: bytes as text
  }
  // Longer data is cut to kLogBytes.
  void set_data(std::span<const std::uint8_t> from) noexcept {
    size = static_cast<std::uint16_t>(std::min(from.size(), bytes.size()));
    std::copy_n(from.begin(), size, bytes.begin());
  }
  void set_text(std::string_view from) noexcept {
    size = static_cast<std::uint16_t>(std::min(from.size(), bytes.size()));
    std::copy_n(from.begin(), size, bytes.begin());
  }
};

// Turns an event into its line's text after the time (no line end). Runs on
// the writer thread.
using LogFormatter = void (*)(const LogRecord& record, std::string& line);

struct LogSettings {
  std::string path;
  std::uint64_t max_bytes = 0;  // a file that would grow past this is rotated
  unsigned keep = 0;            // old files kept: path.1 (newest) .. path.<keep>

  bool operator==(const LogSettings&) const = default;
};

// A bounded queue of many producers and one consumer. A producer claims a
// slot with one compare-and-swap and fills it in place; a full queue refuses.
class LogQueue {
 public:
  static constexpr std::size_t kCapacity = 1024;  // a power of two
  // The writer is woken each time this many more events were queued.
  static constexpr std::size_t kWakeEvery = kCapacity / 4;

  enum class Push : std::uint8_t { kQueued, kQueuedWake, kFull };

  LogQueue() : slots_(std::make_unique<Slot[]>(kCapacity)) {
    for (std::size_t i = 0; i < kCapacity; ++i) slots_[i].sequence.store(i);
  }

  template <typename Fill>
  Push push(Fill&& fill) noexcept {
    std::size_t pos = head_.load(std::memory_order_relaxed);
    for (;;) {
      Slot& slot = slots_[pos & kMask];
      const std::size_t sequence = slot.sequence.load(std::memory_order_acquire);
      const auto lag = static_cast<std::ptrdiff_t>(sequence - pos);
      if (lag == 0) {
        if (head_.compare_exchange_weak(pos, pos + 1, std::memory_order_relaxed)) {
          fill(slot.record);
          slot.sequence.store(pos + 1, std::memory_order_release);
          return (pos + 1) % kWakeEvery == 0 ? Push::kQueuedWake : Push::kQueued;
        }
      } else if (lag < 0) {
        return Push::kFull;
      } else {
        pos = head_.load(std::memory_order_relaxed);
      }
    }
  }

  // The consumer's side: hands the oldest complete event to use, if any.
  template <typename Use>
  bool pop(Use&& use) {
    Slot& slot = slots_[tail_ & kMask];
    const std::size_t sequence = slot.sequence.load(std::memory_order_acquire);
    if (static_cast<std::ptrdiff_t>(sequence - (tail_ + 1)) < 0) return false;
    use(slot.record);
    slot.sequence.store(tail_ + kCapacity, std::memory_order_release);
    ++tail_;
    return true;
  }

 private:
  static constexpr std::size_t kMask = kCapacity - 1;
  static_assert((kCapacity & kMask) == 0);

  struct Slot {
    std::atomic<std::size_t> sequence{0};
    LogRecord record;
  };
  std::unique_ptr<Slot[]> slots_;
  alignas(64) std::atomic<std::size_t> head_{0};
  alignas(64) std::size_t tail_ = 0;
};

class LogWriter;

// One driver object's way into the process's log.
class DriverLog {
 public:
  DriverLog() = default;
  ~DriverLog();
  DriverLog(const DriverLog&) = delete;
  DriverLog& operator=(const DriverLog&) = delete;

  // Joins the process's log with these settings, starting its writer when
  // this is the first object that logs. A file that cannot be opened or
  // written costs nothing but its lines; the next object to open tries again.
  void Open(const LogSettings& settings, LogFormatter format);
  bool on() const { return writer_ != nullptr; }

  static std::int64_t Now() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }

  // Queues the event stamped with time_ns (from Now()), filled in place by
  // fill(record); what fill leaves alone is zero. Never waits.
  template <typename Fill>
  void Record(LogEvent event, std::int64_t time_ns, Fill&& fill) const noexcept {
    if (writer_ == nullptr) return;
    const Push pushed = queue_->push([&](LogRecord& record) {
      record.time_ns = time_ns;
      record.event = event;
      record.detail = 0;
      record.has_line = false;
      record.line = 0;
      record.pump = kNoPump;
      record.values = {};
      record.micros = 0;
      record.size = 0;
      fill(record);
    });
    if (pushed == Push::kFull) {
      dropped_->fetch_add(1, std::memory_order_relaxed);
    } else if (pushed == Push::kQueuedWake) {
      Wake();
    }
  }
  template <typename Fill>
  void Record(LogEvent event, Fill&& fill) const noexcept {
    if (writer_ != nullptr) Record(event, Now(), std::forward<Fill>(fill));
  }
  void Record(LogEvent event) const noexcept {
    Record(event, [](LogRecord&) {});
  }

 private:
  using Push = LogQueue::Push;
  void Wake() const noexcept;

  LogWriter* writer_ = nullptr;
  LogQueue* queue_ = nullptr;
  std::atomic<std::uint64_t>* dropped_ = nullptr;
};

// The log's path as the settings give it: a relative one is taken from the
// folder of the settings file.
std::string LogPathBeside(std::string_view settings_file, std::string_view path);

}  // namespace zarvo::platform
