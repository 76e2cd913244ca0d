#include <windows.h>
// After windows.h, which it needs.
#include <mmsystem.h>

#include <algorithm>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "sim/line_io.h"

namespace zarvo::sim {
namespace {

[[noreturn]] void fail(const std::string& what) {
  throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

// Whole milliseconds to wait for `deadline`, rounded up so that a wait never ends early.
DWORD millis_until(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
  return static_cast<DWORD>(
      std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 0x7FFFFFFF));
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

 private:
  HANDLE h_;
};

HANDLE new_event() {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) fail("CreateEvent");
  return event;
}

// "COM4" names ports 1 to 9 only; the device namespace names them all.
std::wstring device_name(const std::string& path) {
  std::string name = path;
  if (name.rfind("\\\\.\\", 0) != 0) name = "\\\\.\\" + name;
  return std::wstring(name.begin(), name.end());
}

HANDLE open_port(const std::string& path) {
  HANDLE port = CreateFileW(device_name(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (port == INVALID_HANDLE_VALUE) fail("open " + path);
  return port;
}

// A COM port opened for overlapped I/O, so that every wait also watches the stop event.
class ComPort final : public ByteStream {
 public:
  ComPort(const std::string& path, int baud)
      : queued_read_(new_event()),
        byte_read_(new_event()),
        write_done_(new_event()),
        port_(open_port(path)) {
    configure(path, baud);
  }

  std::optional<std::size_t> read_some(std::span<std::uint8_t> into,
                                       std::optional<Clock::time_point> deadline,
                                       const StopSignal& stop) override {
    if (into.empty()) return 0;
    if (!byte_pending_) {
      if (const std::size_t count = read_queued(into); count > 0) return count;
      if (start_byte_read()) return take_byte(into);
    }
    const HANDLE events[2] = {byte_read_.get(), static_cast<HANDLE>(stop.event())};
    const DWORD woke =
        WaitForMultipleObjects(2, events, FALSE, deadline ? millis_until(*deadline) : INFINITE);
    if (woke != WAIT_OBJECT_0) return 0;  // the read stays pending for the next call
    DWORD count = 0;
    if (!GetOverlappedResult(port_.get(), &byte_wait_, &count, FALSE)) fail("ReadFile");
    byte_pending_ = false;
    return count == 1 ? take_byte(into) : 0;
  }

  bool write_all(std::span<const std::uint8_t> bytes, const StopSignal& stop) override {
    while (!bytes.empty()) {
      OVERLAPPED o{};
      o.hEvent = write_done_.get();
      DWORD count = 0;
      if (!WriteFile(port_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &count, &o)) {
        if (GetLastError() != ERROR_IO_PENDING) fail("WriteFile");
        const HANDLE events[2] = {write_done_.get(), static_cast<HANDLE>(stop.event())};
        const DWORD woke = WaitForMultipleObjects(2, events, FALSE, INFINITE);
        if (woke != WAIT_OBJECT_0) CancelIo(port_.get());
        if (!GetOverlappedResult(port_.get(), &o, &count, TRUE)) {
          if (GetLastError() == ERROR_OPERATION_ABORTED) return false;
          fail("WriteFile");
        }
        if (woke != WAIT_OBJECT_0) return false;
      }
      bytes = bytes.subspan(std::min<std::size_t>(count, bytes.size()));
    }
    return true;
  }

  void purge_input() override {
    if (!PurgeComm(port_.get(), PURGE_RXCLEAR)) fail("PurgeComm");
  }

 private:
  // Reads what the driver holds already, which completes at once.
  std::size_t read_queued(std::span<std::uint8_t> into) {
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(port_.get(), &errors, &status)) fail("ClearCommError");
    if (status.cbInQue == 0) return 0;
    OVERLAPPED o{};
    o.hEvent = queued_read_.get();
    DWORD count = 0;
    const auto wanted = static_cast<DWORD>(std::min<std::size_t>(into.size(), status.cbInQue));
    if (!ReadFile(port_.get(), into.data(), wanted, &count, &o)) {
      if (GetLastError() != ERROR_IO_PENDING) fail("ReadFile");
      if (!GetOverlappedResult(port_.get(), &o, &count, TRUE)) fail("ReadFile");
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
    if (GetLastError() != ERROR_IO_PENDING) fail("ReadFile");
    byte_pending_ = true;
    return false;
  }

  // The byte just read, and whatever came after it.
  std::size_t take_byte(std::span<std::uint8_t> into) {
    into[0] = byte_;
    return 1 + read_queued(into.subspan(1));
  }

  void configure(const std::string& path, int baud) {
    switch (baud) {
      case 1200:
      case 2400:
      case 4800:
      case 9600:
      case 19200:
      case 38400:
      case 57600:
      case 115200:
        break;
      default:
        throw std::invalid_argument("unsupported baud rate " + std::to_string(baud));
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port_.get(), &dcb)) fail("GetCommState " + path);
    dcb.BaudRate = static_cast<DWORD>(baud);
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
    if (!SetCommState(port_.get(), &dcb)) fail("SetCommState " + path);
    // No timeouts: a read ends when it has all it asked for, and the
    // deadlines are ours. (Wine leaves a read that should return at once with
    // nothing pending until a byte comes, and ends no WaitCommEvent early.)
    COMMTIMEOUTS timeouts{};
    if (!SetCommTimeouts(port_.get(), &timeouts)) fail("SetCommTimeouts " + path);
    PurgeComm(port_.get(), PURGE_RXCLEAR | PURGE_TXCLEAR);
  }

  Handle queued_read_;
  Handle byte_read_;
  Handle write_done_;
  OVERLAPPED byte_wait_{};
  std::uint8_t byte_ = 0;
  bool byte_pending_ = false;
  Handle port_;  // last: closed first, which ends a pending read before what it uses goes
};

// Set by the console's Ctrl+C, Ctrl+Break and close; the handler is a plain function.
HANDLE console_stop = nullptr;

BOOL WINAPI on_console_stop(DWORD) {
  SetEvent(console_stop);
  return TRUE;
}

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

void use_precise_timers() {
  // Once for the process: the tick stays at 1 ms until it ends.
  static const bool precise = timeBeginPeriod(1) == TIMERR_NOERROR;
  (void)precise;
}

bool wait_until(Clock::time_point deadline, const StopSignal& stop) {
  for (;;) {
    const DWORD ms = millis_until(deadline);
    if (ms == 0 && Clock::now() >= deadline) return true;
    if (WaitForSingleObject(static_cast<HANDLE>(stop.event()), ms) == WAIT_OBJECT_0) return false;
  }
}

std::unique_ptr<ByteStream> open_serial(const std::string& path, int baud) {
  return std::make_unique<ComPort>(path, baud);
}

RunEnd::RunEnd() {
  if (console_stop == nullptr) console_stop = new_event();
  SetConsoleCtrlHandler(on_console_stop, TRUE);
}

void RunEnd::wait(bool, const std::function<bool()>& ended) {
  // Standard input is watched only with --pty, which Windows does not have.
  while (!ended()) {
    if (WaitForSingleObject(console_stop, 200) == WAIT_OBJECT_0) return;
  }
}

std::thread start_thread_without_signals(std::function<void()> run) {
  return std::thread(std::move(run));
}

}  // namespace zarvo::sim
