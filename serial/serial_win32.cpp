// COM ports through the Win32 communications functions, opened for
// overlapped I/O so that every wait also watches a stop request.
#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include "serial/com_name.h"
#include "serial/serial_device.h"

namespace zarvo::serial {

namespace {

std::string system_message(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0,
      nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length)
                                                      : "system error " + std::to_string(code);
  LocalFree(text);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message;
}

[[noreturn]] void fail_with_last_error(const std::string& what) {
  throw Error(what + ": " + system_message(GetLastError()));
}

// Whole milliseconds to wait for `deadline`, rounded up so that a wait never
// ends early; without a deadline, no limit.
DWORD millis_until(std::optional<Clock::time_point> deadline) {
  if (!deadline) return INFINITE;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
  return static_cast<DWORD>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
}

bool passed(std::optional<Clock::time_point> deadline) {
  return deadline && Clock::now() >= *deadline;
}

// Closes a handle on every path out.
class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  void close() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_;
};

HANDLE new_event() {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) fail_with_last_error("CreateEvent");
  return event;
}

HANDLE open_port(const std::string& path) {
  const std::string device = com_device_path(path);
  // No sharing: the port is this process's alone while it is open.
  HANDLE port =
      CreateFileW(std::wstring(device.begin(), device.end()).c_str(), GENERIC_READ | GENERIC_WRITE,
                  0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    // A COM port is never shared: another process has it open.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
      throw Busy("in use by another process (open: " + system_message(ERROR_ACCESS_DENIED) + ")");
    }
    fail_with_last_error("open");
  }
  return port;
}

// The events that end a wait: the operation's, and the stop request's if any.
DWORD wait_for(HANDLE done, const StopSignal* stop, std::optional<Clock::time_point> deadline) {
  const HANDLE events[2] = {done, stop != nullptr ? static_cast<HANDLE>(stop->event()) : nullptr};
  return WaitForMultipleObjects(stop != nullptr ? 2 : 1, events, FALSE, millis_until(deadline));
}

class ComPort final : public ByteStream {
 public:
  ComPort(const std::string& path, std::uint32_t baud)
      : queued_read_(new_event()),
        byte_read_(new_event()),
        write_done_(new_event()),
        port_(open_port(path)) {
    configure(baud);
  }
  ~ComPort() override {
    // Closing the port ends a pending read, whose completion may still write
    // to byte_wait_ and byte_: they must outlive it.
    const bool pending = byte_pending_;
    port_.close();
    if (pending) WaitForSingleObject(byte_read_.get(), kPendingReadGrace);
  }
  ComPort(const ComPort&) = delete;
  ComPort& operator=(const ComPort&) = delete;

 private:
  static constexpr DWORD kPendingReadGrace = 1000;  // ms

  std::size_t do_read_some(std::span<std::uint8_t> into, std::optional<Clock::time_point> deadline,
                           const StopSignal* stop) override {
    for (;;) {
      if (!byte_pending_) {
        if (const std::size_t count = read_queued(into); count > 0) return count;
        if (start_byte_read()) return take_byte(into);
      }
      const DWORD woke = wait_for(byte_read_.get(), stop, deadline);
      if (woke == WAIT_FAILED) fail_with_last_error("read");
      if (woke != WAIT_OBJECT_0) {
        // Stopped, or the time is up: the read stays pending for the next call.
        if (woke == WAIT_OBJECT_0 + 1 || passed(deadline)) return 0;
        continue;
      }
      DWORD count = 0;
      if (!GetOverlappedResult(port_.get(), &byte_wait_, &count, FALSE)) {
        fail_with_last_error("read");
      }
      byte_pending_ = false;
      if (count == 1) return take_byte(into);
      if (!deadline || passed(deadline)) return 0;
    }
  }

  bool do_write_all(std::span<const std::uint8_t> bytes, std::optional<Clock::time_point> deadline,
                    const StopSignal* stop) override {
    while (!bytes.empty()) {
      OVERLAPPED o{};
      o.hEvent = write_done_.get();
      DWORD count = 0;
      if (!WriteFile(port_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &count, &o)) {
        if (GetLastError() != ERROR_IO_PENDING) fail_with_last_error("write");
        const DWORD woke = wait_for(write_done_.get(), stop, deadline);
        // Only this write: the pending read of a byte must go on.
        if (woke != WAIT_OBJECT_0) CancelIoEx(port_.get(), &o);
        if (!GetOverlappedResult(port_.get(), &o, &count, TRUE)) {
          if (GetLastError() != ERROR_OPERATION_ABORTED) fail_with_last_error("write");
          if (woke == WAIT_TIMEOUT) throw Error("write timed out");
          return false;
        }
        if (woke == WAIT_OBJECT_0 + 1) return false;
      }
      bytes = bytes.subspan(std::min<std::size_t>(count, bytes.size()));
    }
    return true;
  }

  void do_purge_input() override {
    // A byte that the pending read took meanwhile arrived before the purge too.
    if (byte_pending_ && WaitForSingleObject(byte_read_.get(), 0) == WAIT_OBJECT_0) {
      DWORD count = 0;
      (void)GetOverlappedResult(port_.get(), &byte_wait_, &count, FALSE);
      byte_pending_ = false;
    }
    PurgeComm(port_.get(), PURGE_RXCLEAR);
  }

  // Reads what the driver holds already, which completes at once.
  std::size_t read_queued(std::span<std::uint8_t> into) {
    if (into.empty()) return 0;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port_.get(), &errors, &status)) fail_with_last_error("read");
    if (status.cbInQue == 0) return 0;
    OVERLAPPED o{};
    o.hEvent = queued_read_.get();
    DWORD count = 0;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(into.size(), status.cbInQue));
    if (!ReadFile(port_.get(), into.data(), wanted, &count, &o)) {
      if (GetLastError() != ERROR_IO_PENDING) fail_with_last_error("read");
      if (!GetOverlappedResult(port_.get(), &o, &count, TRUE)) fail_with_last_error("read");
    }
    return count;
  }

  // Starts the read of one byte that ends when a byte arrives: the wait for
  // input. True when it completed at once. A pending read is never cancelled
  // (wine ends none by CancelIo): the next call waits on, and closing the
  // port ends it.
  bool start_byte_read() {
    byte_wait_ = OVERLAPPED{};
    byte_wait_.hEvent = byte_read_.get();
    DWORD count = 0;
    if (ReadFile(port_.get(), &byte_, 1, &count, &byte_wait_)) return count == 1;
    if (GetLastError() != ERROR_IO_PENDING) fail_with_last_error("read");
    byte_pending_ = true;
    return false;
  }

  // The byte just read, and whatever came after it.
  std::size_t take_byte(std::span<std::uint8_t> into) {
    into[0] = byte_;
    return 1 + read_queued(into.subspan(1));
  }

  void configure(std::uint32_t baud) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port_.get(), &dcb)) fail_with_last_error("not a serial device");
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    // No flow control of any kind, and no byte changed or dropped on the way.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(port_.get(), &dcb)) fail_with_last_error("line settings");
    // No timeouts: a read ends when it has all it asked for, and the
    // deadlines are ours. (Wine leaves a read that should return at once with
    // nothing pending until a byte comes, and ends no WaitCommEvent early.)
    COMMTIMEOUTS timeouts{};
    if (!SetCommTimeouts(port_.get(), &timeouts)) fail_with_last_error("line timeouts");
    PurgeComm(port_.get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
  }

  Handle queued_read_;
  Handle byte_read_;
  Handle write_done_;
  OVERLAPPED byte_wait_{};
  std::uint8_t byte_ = 0;
  bool byte_pending_ = false;
  Handle port_;
};

}  // namespace

StopSignal::StopSignal() : event_(new_event()) {}

StopSignal::~StopSignal() {
  CloseHandle(static_cast<HANDLE>(event_));
}

void StopSignal::request() {
  requested_ = true;
  SetEvent(static_cast<HANDLE>(event_));
}

bool StopSignal::requested() const {
  return requested_;
}

bool wait_until(Clock::time_point deadline, const StopSignal& stop) {
  for (;;) {
    const DWORD ms = millis_until(deadline);
    if (ms == 0 && Clock::now() >= deadline) return true;
    if (WaitForSingleObject(static_cast<HANDLE>(stop.event()), ms) == WAIT_OBJECT_0) return false;
  }
}

void use_precise_timers() {
  // Once for the process: the tick stays at 1 ms until it ends.
  static const bool precise = timeBeginPeriod(1) == TIMERR_NOERROR;
  (void)precise;
}

std::unique_ptr<ByteStream> open_device(const std::string& path, std::uint32_t baud, Hold) {
  require_supported_baud(baud);
  return std::make_unique<ComPort>(path, baud);
}

std::string device_identity(const std::string& path) {
  return com_identity(path);
}

}  // namespace zarvo::serial
