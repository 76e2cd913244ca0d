#include <windows.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <iostream>
#include <streambuf>
#include <string>

#include "host/session/console.h"

namespace zarvo::host {

namespace {

HANDLE handle_of(StandardStream stream) {
  return GetStdHandle(stream == StandardStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
}

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// Counted by the console's control handler, which runs on a thread of its
// own and has no context of ours: one count and one event for the process.
// The event resets as a wait takes it; the count says how many came.
struct Interrupts {
  std::atomic<std::uint32_t> count{0};
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
};

Interrupts& interrupts() {
  static Interrupts process;
  return process;
}

BOOL WINAPI on_console_control(DWORD kind) {
  switch (kind) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      ++interrupts().count;
      SetEvent(interrupts().event);
      return TRUE;
    default:
      return FALSE;
  }
}

// UTF-8 in, UTF-16 to the console. A character cut between two flushes waits
// for its remaining bytes.
class ConsoleBuffer final : public std::streambuf {
 public:
  explicit ConsoleBuffer(HANDLE console) : console_(console) {
    setp(buffer_.data(), buffer_.data() + buffer_.size());
  }
  ~ConsoleBuffer() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (sync() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }

  int sync() override {
    const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
    const std::size_t whole = complete_prefix(pending);
    if (whole > 0 && !write_console(whole)) return -1;
    // Keep the start of a character whose other bytes have not come yet.
    std::copy(pbase() + whole, pptr(), buffer_.data());
    setp(buffer_.data(), buffer_.data() + buffer_.size());
    pbump(static_cast<int>(pending - whole));
    return 0;
  }

 private:
  // The longest prefix that ends on a character boundary.
  std::size_t complete_prefix(std::size_t size) const {
    std::size_t start = size;
    for (std::size_t back = 1; back <= 3 && back <= size; ++back) {
      const auto byte = static_cast<unsigned char>(buffer_[size - back]);
      if ((byte & 0xC0) == 0x80) continue;  // a continuation byte
      const std::size_t length = byte >= 0xF0 ? 4 : byte >= 0xE0 ? 3 : byte >= 0xC0 ? 2 : 1;
      start = length > back ? size - back : size;
      return start;
    }
    return start;
  }

  bool write_console(std::size_t size) {
    const int count =
        MultiByteToWideChar(CP_UTF8, 0, buffer_.data(), static_cast<int>(size), nullptr, 0);
    if (count <= 0) return true;  // not UTF-8 at all: nothing a console could show
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, buffer_.data(), static_cast<int>(size), wide.data(), count);
    DWORD written = 0;
    return WriteConsoleW(console_, wide.data(), static_cast<DWORD>(wide.size()), &written,
                         nullptr) != 0;
  }

  HANDLE console_;
  std::array<char, 1024> buffer_{};
};

}  // namespace

bool is_terminal(StandardStream stream) {
  return is_console(handle_of(stream));
}

// Interrupts before the watch began are not its own.
struct InterruptWatch::Saved {
  std::uint32_t before = interrupts().count;
};

InterruptWatch::InterruptWatch() : saved_(std::make_unique<Saved>()) {
  ResetEvent(interrupts().event);
  SetConsoleCtrlHandler(on_console_control, TRUE);
}

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(on_console_control, FALSE);
}

bool InterruptWatch::wait(std::uint32_t ms) const {
  return wait_past(0, ms);
}

bool InterruptWatch::interrupted() const {
  return wait_past(0, 0);
}

std::uint32_t InterruptWatch::count() const {
  return interrupts().count - saved_->before;
}

bool InterruptWatch::wait_past(std::uint32_t seen, std::uint32_t ms) const {
  if (count() > seen) return true;
  WaitForSingleObject(interrupts().event, ms);
  return count() > seen;
}

struct TerminalRestore::Saved {};

TerminalRestore::TerminalRestore() = default;
TerminalRestore::~TerminalRestore() = default;

struct ConsoleText::Saved {
  std::unique_ptr<ConsoleBuffer> out;
  std::unique_ptr<ConsoleBuffer> err;
  std::streambuf* previous_out = nullptr;
  std::streambuf* previous_err = nullptr;
};

namespace {

// Lets a console draw the progress bar's and the monitor's escape sequences
// (Windows 10 and later; older consoles show them as they are).
void use_escape_sequences(HANDLE console) {
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode)) {
    SetConsoleMode(console, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

}  // namespace

ConsoleText::ConsoleText() : saved_(std::make_unique<Saved>()) {
  if (HANDLE out = handle_of(StandardStream::kOutput); is_console(out)) {
    use_escape_sequences(out);
    saved_->out = std::make_unique<ConsoleBuffer>(out);
    saved_->previous_out = std::cout.rdbuf(saved_->out.get());
  }
  if (HANDLE err = handle_of(StandardStream::kError); is_console(err)) {
    use_escape_sequences(err);
    saved_->err = std::make_unique<ConsoleBuffer>(err);
    saved_->previous_err = std::cerr.rdbuf(saved_->err.get());
  }
}

ConsoleText::~ConsoleText() {
  if (saved_->out) {
    std::cout.flush();
    std::cout.rdbuf(saved_->previous_out);
  }
  if (saved_->err) {
    std::cerr.flush();
    std::cerr.rdbuf(saved_->previous_err);
  }
}

}  // namespace zarvo::host
