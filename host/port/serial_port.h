// The host's port object: the table of 20 entries the driver calls, over the
// OS's serial devices or lines inside this process (serial/serial_device.h). Lines
// 1..40 are bound to devices by the host; a line opens 9600 baud 8N1 raw on
// ConfigureLine or lazily on its first exchange. A device that fails (hangs
// up, vanishes) is closed and opened again by a later exchange, at once the
// first time and then no sooner than a back-off of up to two seconds allows.
//
// Thread safety: exchanges on different lines may run at the same time; calls
// for one line must not overlap. Bind devices before the first exchange.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "host/port/reply_collector.h"
#include "serial/serial_device.h"
#include "zarvo/da30.h"

namespace zarvo::host {

// Opens a line that lives in this process at a rate the port offers, raw 8N1.
// Throws serial::Error.
using DeviceOpener = std::function<std::unique_ptr<serial::ByteStream>(std::uint32_t baud)>;

// Results of SendAndReceive and ConfigureLine, also reported by GetLineResult.
enum class PortResult : std::int32_t {
  kOk = 0,
  kTimeout = 1,      // not one reply byte before the first-byte timeout
  kIncomplete = 2,   // a reply began but stopped, or cannot fit 255 bytes
  kCheckFailed = 3,  // the driver's check rejected the reply (bad CRC)
  kIoError = 4,      // the device could not be opened, set up, written or read
  kNoDevice = 5,     // no device is bound to the line (or the line is not 1..40)
  kBadSettings = 6,  // ConfigureLine with a mode or speed the port does not offer
};

const char* describe(PortResult result);

struct PortTimeouts {
  std::chrono::milliseconds first_byte{200};
  std::chrono::milliseconds inter_byte{20};
};

// One exchange as the port saw it, for the trace and for observers.
struct ExchangeRecord {
  std::uint32_t line = 0;
  std::span<const std::uint8_t> sent;
  std::span<const std::uint8_t> received;  // the stored reply, or what was stored before failing
  std::size_t skipped = 0;                 // noise bytes before the reply
  PortResult result = PortResult::kOk;
  bool transmitted = true;  // false when the request was not written
  std::size_t strays = 0;   // intact replies from another pump, ignored
};

using ExchangeObserver = std::function<void(const ExchangeRecord&)>;
// Sees each request just before it goes out; by throwing it keeps the request
// off the line, and the exchange fails as an I/O error.
using SendGate = std::function<void(std::uint32_t line, std::span<const std::uint8_t> request)>;

class SerialPort;

// What the driver holds: it sees only `base`; the entries find the object
// through `self`.
struct PortHandle {
  zarvo_port base;
  SerialPort* self;
};

inline constexpr std::uint32_t kFirstLine = 1;
inline constexpr std::uint32_t kLastLine = 40;
// Pump addresses on a line are 1..kLastPump.
inline constexpr std::uint32_t kLastPump = 32;

class SerialPort {
 public:
  explicit SerialPort(PortTimeouts timeouts = {});
  ~SerialPort();
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  using Clock = std::chrono::steady_clock;

  // Binds a device to a line; throws std::invalid_argument for a line outside
  // 1..40 or a device already bound to another line, under whatever name.
  // Without an opener the device is the OS's serial device of that name.
  void bind(std::uint32_t line, std::string device, DeviceOpener opener = {});
  bool bound(std::uint32_t line) const;
  const std::string& device(std::uint32_t line) const;
  // Why the line's last operation failed, for messages ("" when it did not).
  std::string last_error(std::uint32_t line) const;

  // The line's device as the last exchange left it, asked between exchanges
  // (by the thread that exchanges on the line, or while none does).
  // Open: false before the first open and after the device failed.
  bool is_open(std::uint32_t line) const;
  // When a failed device may be opened again; an exchange before then fails at once.
  Clock::time_point reopen_at(std::uint32_t line) const;
  // Whether the last open found the device held by another process.
  bool held_elsewhere(std::uint32_t line) const;

  // Called after every exchange, on the exchanging thread (serialised).
  void set_observer(ExchangeObserver observer);
  // Called before every request is written, on the exchanging thread (serialised).
  void set_send_gate(SendGate gate);

  // What the driver receives at creation.
  zarvo_port* port() { return &handle_.base; }

  // The table's entries, callable directly as well.
  std::int32_t GetLineResult(std::uint32_t line) const;
  void SetReplyCode(std::uint32_t line, std::uint32_t code);
  void SetRxState(std::uint32_t line, std::uint32_t state);
  std::int32_t GetRxState(std::uint32_t line) const;
  std::int32_t SendAndReceive(std::uint32_t line, const std::uint8_t* txbuf, std::uint32_t txlen,
                              std::uint8_t* rxbuf);
  std::int32_t ConfigureLine(std::uint32_t line, std::uint32_t mode, std::uint32_t baud);
  void SetReplyCheck(std::uint32_t line, zarvo_reply_check check, void* context);

 private:
  struct Line {
    std::string device;
    std::string identity;  // the same for every name of one device
    DeviceOpener opener;
    std::unique_ptr<serial::ByteStream> io;
    unsigned device_failures = 0;  // failed opens and device errors in a row
    Clock::time_point reopen_at{};
    std::string down_reason;  // the last device error
    bool busy = false;
    zarvo_reply_check check = nullptr;
    void* context = nullptr;
    std::optional<std::uint32_t> reply_code;  // the check's last verdict
    std::int32_t rx_state = 0;
    PortResult result = PortResult::kOk;
    std::string error;
  };

  Line* line_at(std::uint32_t line);
  const Line* line_at(std::uint32_t line) const;
  PortResult open_line(Line& line, std::uint32_t baud);
  // Closes a device that failed and sets when it may be opened again.
  PortResult device_failed(Line& line, const std::string& reason);
  PortResult pass_gate(Line& line, std::uint32_t number, std::span<const std::uint8_t> request);
  PortResult transmit(Line& line, std::span<const std::uint8_t> request);
  PortResult collect(Line& line, std::span<const std::uint8_t> request, ReplyCollector& collector,
                     std::size_t& strays);
  Verdict judge(Line& line, std::uint32_t number,
                std::span<const std::uint8_t, kReplyBufferSize> buffer, std::uint8_t last_index);
  PortResult fail(Line& line, PortResult result, std::string error);
  void notify(const ExchangeRecord& record);

  PortTimeouts timeouts_;
  PortHandle handle_;
  std::array<Line, kLastLine> lines_;
  std::mutex observer_mutex_;
  ExchangeObserver observer_;
  std::mutex gate_mutex_;
  SendGate gate_;
};

}  // namespace zarvo::host
