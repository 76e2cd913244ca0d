// COM ports through the Win32 communications functions.
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "host/port/line_device.h"

namespace zarvo::host {

namespace {

using Clock = LineDevice::Clock;

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
  throw DeviceError(what + ": " + system_message(GetLastError()));
}

// COM10 and above open only by their device name; \\.\COM3 works for every port.
std::wstring device_name(const std::string& path) {
  std::wstring name(path.begin(), path.end());
  if (name.rfind(L"\\\\", 0) != 0) name = L"\\\\.\\" + name;
  return name;
}

// Whole milliseconds, rounded up so that a deadline is never cut short.
DWORD ms_until(Clock::time_point deadline) {
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<DWORD>(std::clamp<long long>(ms, 0, 60'000));
}

class ComDevice final : public LineDevice {
 public:
  explicit ComDevice(HANDLE handle) : handle_(handle) {}
  ~ComDevice() override { CloseHandle(handle_); }
  ComDevice(const ComDevice&) = delete;
  ComDevice& operator=(const ComDevice&) = delete;

  void purge_input() override { PurgeComm(handle_, PURGE_RXCLEAR); }

  void write_all(std::span<const std::uint8_t> bytes, Clock::time_point deadline) override {
    std::size_t written = 0;
    while (written < bytes.size()) {
      const DWORD left = ms_until(deadline);
      if (left == 0) throw DeviceError("write timed out");
      set_timeouts(0, 0, left);
      DWORD n = 0;
      if (!WriteFile(handle_, bytes.data() + written, static_cast<DWORD>(bytes.size() - written),
                     &n, nullptr)) {
        fail_with_last_error("write");
      }
      written += n;
    }
  }

  std::size_t read_some(std::span<std::uint8_t> into, Clock::time_point deadline) override {
    for (;;) {
      const DWORD wait = ms_until(deadline);
      // With a wait: return as soon as one byte is there, with whatever else
      // has come; without one: take what is there at once.
      if (wait > 0) {
        set_timeouts(MAXDWORD, MAXDWORD, wait);
      } else {
        set_timeouts(MAXDWORD, 0, 0);
      }
      DWORD n = 0;
      if (!ReadFile(handle_, into.data(), static_cast<DWORD>(into.size()), &n, nullptr)) {
        fail_with_last_error("read");
      }
      if (n > 0) return n;
      if (wait == 0 || Clock::now() >= deadline) return 0;
    }
  }

 private:
  void set_timeouts(DWORD read_interval, DWORD read_multiplier, DWORD constant) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = read_interval;
    timeouts.ReadTotalTimeoutMultiplier = read_multiplier;
    timeouts.ReadTotalTimeoutConstant = read_interval == MAXDWORD ? constant : 0;
    timeouts.WriteTotalTimeoutConstant = read_interval == MAXDWORD ? 0 : constant;
    if (!SetCommTimeouts(handle_, &timeouts)) fail_with_last_error("line timeouts");
  }

  HANDLE handle_;
};

}  // namespace

std::unique_ptr<LineDevice> open_serial_device(const std::string& path, std::uint32_t baud) {
  // No sharing: the line is this process's alone while it is open.
  const HANDLE handle = CreateFileW(device_name(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    // A COM port is never shared: another process has it open.
    if (GetLastError() == ERROR_ACCESS_DENIED) {
      throw DeviceBusy("in use by another process (open: " + system_message(ERROR_ACCESS_DENIED) +
                       ")");
    }
    fail_with_last_error("open");
  }
  auto device = std::make_unique<ComDevice>(handle);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) fail_with_last_error("not a serial device");
  dcb.BaudRate = baud;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  if (!SetCommState(handle, &dcb)) fail_with_last_error("line settings");
  PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);
  return device;
}

std::string serial_device_identity(const std::string& path) {
  // COM3, com3 and \\.\COM3 are one port.
  std::string name = path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path;
  for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace zarvo::host
