// What every line shares: the table's entries, collecting and judging a
// reply, strays and results, over the serial line of serial/.
#include "host/port/serial_port.h"

#include <algorithm>
#include <cstddef>
#include <stdexcept>

namespace zarvo::host {

namespace {

using Clock = std::chrono::steady_clock;

// The driver asks for mode 3: eight data bits, no parity, one stop bit.
constexpr std::uint32_t kMode8N1 = 3;
constexpr std::uint32_t kDefaultBaud = 9600;
// A slow peer may take a while to drain a request; a frame is at most 255 bytes.
constexpr std::chrono::milliseconds kWriteTimeout{1000};
// Noise and replies together: a babbling peer cannot hold an exchange forever.
constexpr std::size_t kMaxBytesPerExchange = 4096;
// A device that keeps failing is opened again after these pauses, doubling:
// an unplugged adapter costs an open() every two seconds, never a busy loop.
constexpr std::chrono::milliseconds kFirstReopenPause{250};
constexpr std::chrono::milliseconds kLongestReopenPause{2000};

// Whether a whole reply comes from the pump the request asked.
bool answers(std::span<const std::uint8_t> request, std::span<const std::uint8_t> reply) {
  constexpr std::size_t kAddressAt = wire::kFrame.address;
  if (request.size() <= kAddressAt || reply.size() <= kAddressAt) return true;
  return wire::answers(request[kAddressAt], reply[kAddressAt]);
}

}  // namespace

const char* describe(PortResult result) {
  switch (result) {
    case PortResult::kOk:
      return "reply accepted";
    case PortResult::kTimeout:
      return "no reply (timeout)";
    case PortResult::kIncomplete:
      return "incomplete reply";
    case PortResult::kCheckFailed:
      return "reply failed the check (bad CRC)";
    case PortResult::kIoError:
      return "serial I/O error";
    case PortResult::kNoDevice:
      return "no device bound to the line";
    case PortResult::kBadSettings:
      return "unsupported line settings";
  }
  return "unknown result";
}

namespace {

SerialPort& self_of(zarvo_port* port) {
  // `base` is the first member of the standard-layout handle.
  static_assert(offsetof(PortHandle, base) == 0);
  return *reinterpret_cast<PortHandle*>(port)->self;
}

int32_t ZARVO_STDCALL entry_get_line_result(zarvo_port* port, uint32_t line) {
  return self_of(port).GetLineResult(line);
}
void ZARVO_STDCALL entry_set_reply_code(zarvo_port* port, uint32_t line, uint32_t code) {
  self_of(port).SetReplyCode(line, code);
}
void ZARVO_STDCALL entry_set_rx_state(zarvo_port* port, uint32_t line, uint32_t state) {
  self_of(port).SetRxState(line, state);
}
int32_t ZARVO_STDCALL entry_get_rx_state(zarvo_port* port, uint32_t line) {
  return self_of(port).GetRxState(line);
}
int32_t ZARVO_STDCALL entry_send_and_receive(zarvo_port* port, uint32_t line, const uint8_t* txbuf,
                                             uint32_t txlen, uint8_t* rxbuf, uint32_t /*arg42*/,
                                             uint32_t /*syn*/) {
  return self_of(port).SendAndReceive(line, txbuf, txlen, rxbuf);
}
int32_t ZARVO_STDCALL entry_configure_line(zarvo_port* port, uint32_t line, uint32_t mode,
                                           uint32_t baud) {
  return self_of(port).ConfigureLine(line, mode, baud);
}
void ZARVO_STDCALL entry_set_reply_check(zarvo_port* port, uint32_t line, zarvo_reply_check check,
                                         void* context) {
  self_of(port).SetReplyCheck(line, check, context);
}

constexpr zarvo_port_ops kPortOps = [] {
  zarvo_port_ops ops{};
  ops.GetLineResult = entry_get_line_result;
  ops.SetReplyCode = entry_set_reply_code;
  ops.SetRxState = entry_set_rx_state;
  ops.GetRxState = entry_get_rx_state;
  ops.SendAndReceive = entry_send_and_receive;
  ops.ConfigureLine = entry_configure_line;
  ops.SetReplyCheck = entry_set_reply_check;
  return ops;
}();

}  // namespace

SerialPort::SerialPort(PortTimeouts timeouts)
    : timeouts_(timeouts), handle_{zarvo_port{&kPortOps}, this} {}

SerialPort::~SerialPort() = default;

void SerialPort::bind(std::uint32_t line, std::string device, DeviceOpener opener) {
  Line* slot = line_at(line);
  if (slot == nullptr) {
    throw std::invalid_argument("line " + std::to_string(line) + " is outside 1..40");
  }
  if (device.empty()) throw std::invalid_argument("line " + std::to_string(line) + ": no device");
  // A line of this process is known by its name alone.
  std::string identity = opener ? device : serial::device_identity(device);
  for (std::uint32_t other = kFirstLine; other <= kLastLine; ++other) {
    const Line& bound = lines_[other - 1];
    if (other == line || bound.device.empty() || bound.identity != identity) continue;
    throw std::invalid_argument(
        (bound.device == device ? device : device + " is " + bound.device + ", which") +
        " is already bound to line " + std::to_string(other));
  }
  slot->io.reset();
  slot->device_failures = 0;
  slot->reopen_at = {};
  slot->busy = false;
  slot->device = std::move(device);
  slot->identity = std::move(identity);
  slot->opener = std::move(opener);
}

bool SerialPort::bound(std::uint32_t line) const {
  const Line* slot = line_at(line);
  return slot != nullptr && !slot->device.empty();
}

const std::string& SerialPort::device(std::uint32_t line) const {
  static const std::string none;
  const Line* slot = line_at(line);
  return slot == nullptr ? none : slot->device;
}

bool SerialPort::is_open(std::uint32_t line) const {
  const Line* slot = line_at(line);
  return slot != nullptr && slot->io != nullptr;
}

SerialPort::Clock::time_point SerialPort::reopen_at(std::uint32_t line) const {
  const Line* slot = line_at(line);
  return slot == nullptr ? Clock::time_point{} : slot->reopen_at;
}

bool SerialPort::held_elsewhere(std::uint32_t line) const {
  const Line* slot = line_at(line);
  return slot != nullptr && slot->busy;
}

std::string SerialPort::last_error(std::uint32_t line) const {
  const Line* slot = line_at(line);
  if (slot == nullptr) return describe(PortResult::kNoDevice);
  if (slot->result == PortResult::kOk) return {};
  return slot->error.empty() ? describe(slot->result) : slot->error;
}

void SerialPort::set_observer(ExchangeObserver observer) {
  std::lock_guard lock(observer_mutex_);
  observer_ = std::move(observer);
}

void SerialPort::set_send_gate(SendGate gate) {
  std::lock_guard lock(gate_mutex_);
  gate_ = std::move(gate);
}

PortResult SerialPort::pass_gate(Line& line, std::uint32_t number,
                                 std::span<const std::uint8_t> request) {
  std::lock_guard lock(gate_mutex_);
  if (!gate_) return PortResult::kOk;
  try {
    gate_(number, request);
    return PortResult::kOk;
  } catch (const std::exception& e) {
    return fail(line, PortResult::kIoError, std::string("not sent: ") + e.what());
  } catch (...) {
    return fail(line, PortResult::kIoError, "not sent");
  }
}

SerialPort::Line* SerialPort::line_at(std::uint32_t line) {
  return line >= kFirstLine && line <= kLastLine ? &lines_[line - 1] : nullptr;
}

const SerialPort::Line* SerialPort::line_at(std::uint32_t line) const {
  return line >= kFirstLine && line <= kLastLine ? &lines_[line - 1] : nullptr;
}

std::int32_t SerialPort::GetLineResult(std::uint32_t line) const {
  const Line* slot = line_at(line);
  return static_cast<std::int32_t>(slot == nullptr ? PortResult::kNoDevice : slot->result);
}

void SerialPort::SetReplyCode(std::uint32_t line, std::uint32_t code) {
  if (Line* slot = line_at(line)) slot->reply_code = code;
}

void SerialPort::SetRxState(std::uint32_t line, std::uint32_t state) {
  if (Line* slot = line_at(line)) slot->rx_state = static_cast<std::int32_t>(state);
}

std::int32_t SerialPort::GetRxState(std::uint32_t line) const {
  const Line* slot = line_at(line);
  return slot == nullptr ? 0 : slot->rx_state;
}

void SerialPort::SetReplyCheck(std::uint32_t line, zarvo_reply_check check, void* context) {
  if (Line* slot = line_at(line)) {
    slot->check = check;
    slot->context = context;
  }
}

PortResult SerialPort::fail(Line& line, PortResult result, std::string error) {
  line.result = result;
  line.error = line.device.empty() ? std::move(error) : line.device + ": " + error;
  return result;
}

std::int32_t SerialPort::ConfigureLine(std::uint32_t line, std::uint32_t mode, std::uint32_t baud) {
  Line* slot = line_at(line);
  if (slot == nullptr || slot->device.empty()) {
    if (slot != nullptr) fail(*slot, PortResult::kNoDevice, describe(PortResult::kNoDevice));
    return static_cast<std::int32_t>(PortResult::kNoDevice);
  }
  if (mode != kMode8N1 || !serial::supported_baud(baud)) {
    return static_cast<std::int32_t>(
        fail(*slot, PortResult::kBadSettings,
             "mode " + std::to_string(mode) + " at " + std::to_string(baud) + " baud"));
  }
  const PortResult result = open_line(*slot, baud);
  if (result == PortResult::kOk) slot->result = result;
  return static_cast<std::int32_t>(result);
}

PortResult SerialPort::open_line(Line& line, std::uint32_t baud) {
  // Close first: the line is held exclusively, so a second open would be refused.
  line.io.reset();
  line.busy = false;
  try {
    line.io = line.opener ? line.opener(baud)
                          : serial::open_device(line.device, baud, serial::Hold::kExclusive);
  } catch (const serial::Busy& e) {
    line.busy = true;
    return device_failed(line, e.what());
  } catch (const std::exception& e) {
    return device_failed(line, e.what());
  }
  line.error.clear();
  return PortResult::kOk;
}

PortResult SerialPort::device_failed(Line& line, const std::string& reason) {
  line.io.reset();
  ++line.device_failures;
  // The first failure is tried again at once: a line reported at start opens
  // on its first exchange, one that hung up on the next.
  auto pause = std::chrono::milliseconds(0);
  if (line.device_failures > 1) {
    pause = kFirstReopenPause * (1U << std::min(line.device_failures - 2, 3U));
  }
  line.reopen_at = Clock::now() + std::min(pause, kLongestReopenPause);
  line.down_reason = reason;
  return fail(line, PortResult::kIoError, reason);
}

std::int32_t SerialPort::SendAndReceive(std::uint32_t number, const std::uint8_t* txbuf,
                                        std::uint32_t txlen, std::uint8_t* rxbuf) {
  Line* line = line_at(number);
  if (line == nullptr) return static_cast<std::int32_t>(PortResult::kNoDevice);
  line->reply_code.reset();
  line->rx_state = 0;
  if (txbuf == nullptr || rxbuf == nullptr || txlen == 0 || txlen > kReplyBufferSize) {
    return static_cast<std::int32_t>(fail(*line, PortResult::kIoError, "invalid frame buffers"));
  }
  const std::span<const std::uint8_t> request(txbuf, txlen);
  const std::span<std::uint8_t, kReplyBufferSize> reply(rxbuf, kReplyBufferSize);
  std::ranges::fill(reply, std::uint8_t{0});
  ReplyCollector collector(reply, kSynByte,
                           [this, line, number](auto buffer, std::uint8_t last_index) {
                             return judge(*line, number, buffer, last_index);
                           });

  PortResult result = PortResult::kOk;
  if (line->device.empty()) {
    result = fail(*line, PortResult::kNoDevice, describe(PortResult::kNoDevice));
  } else if (line->io == nullptr) {
    result = Clock::now() < line->reopen_at
                 ? fail(*line, PortResult::kIoError, line->down_reason + "; trying again shortly")
                 : open_line(*line, kDefaultBaud);
  }
  if (result == PortResult::kOk) result = pass_gate(*line, number, request);
  bool transmitted = false;
  std::size_t strays = 0;
  if (result == PortResult::kOk) {
    result = transmit(*line, request);
    transmitted = result == PortResult::kOk;
  }
  if (transmitted) result = collect(*line, request, collector, strays);
  // The device worked through a whole exchange, whatever the peer answered.
  if (transmitted && line->io != nullptr) line->device_failures = 0;
  line->result = result;
  if (result == PortResult::kOk) line->error.clear();
  notify(ExchangeRecord{number, request, collector.reply(), collector.skipped(), result,
                        transmitted, strays});
  // A reply that was not accepted must not reach the driver's decoder.
  if (result != PortResult::kOk) collector.discard();
  return static_cast<std::int32_t>(result);
}

PortResult SerialPort::transmit(Line& line, std::span<const std::uint8_t> request) {
  try {
    // Whatever a late reply left behind belongs to an earlier request.
    line.io->purge_input();
    line.io->write_all(request, Clock::now() + kWriteTimeout);
  } catch (const serial::Error& e) {
    return device_failed(line, e.what());
  }
  return PortResult::kOk;
}

PortResult SerialPort::collect(Line& line, std::span<const std::uint8_t> request,
                               ReplyCollector& collector, std::size_t& strays) {
  const auto first_byte_deadline = Clock::now() + timeouts_.first_byte;
  auto deadline = first_byte_deadline;
  std::size_t received = 0;
  std::array<std::uint8_t, 64> chunk{};
  for (;;) {
    std::size_t n = 0;
    try {
      n = line.io->read_some(chunk, deadline);
    } catch (const serial::Error& e) {
      return device_failed(line, e.what());
    }
    if (n == 0) {
      if (collector.stored() == 0) {
        if (strays > 0) return fail(line, PortResult::kTimeout, "no reply, only another pump's");
        return fail(line, PortResult::kTimeout,
                    collector.skipped() == 0 ? "no reply" : "no reply, only noise");
      }
      return fail(line, PortResult::kIncomplete,
                  "reply stopped after " + std::to_string(collector.stored()) + " bytes");
    }
    const auto arrived = Clock::now();
    for (const std::uint8_t byte : std::span(chunk).first(n)) {
      switch (collector.Process(byte)) {
        case ReplyCollector::Step::kAccepted:
          if (answers(request, collector.reply())) return PortResult::kOk;
          // A late reply to an earlier request: the driver would file it, and
          // acknowledge it, under this request's pump. Wait for the real one.
          ++strays;
          collector.discard();
          line.rx_state = 0;
          line.reply_code.reset();
          deadline = std::max(first_byte_deadline, arrived + timeouts_.inter_byte);
          break;
        case ReplyCollector::Step::kRejected:
          return fail(line, PortResult::kCheckFailed, describe(PortResult::kCheckFailed));
        case ReplyCollector::Step::kFull:
          return fail(line, PortResult::kIncomplete, "reply does not fit 255 bytes");
        case ReplyCollector::Step::kNeedMore:
          break;
      }
    }
    received += n;
    if (received > kMaxBytesPerExchange) {
      return fail(line, PortResult::kIncomplete, "too many bytes without a reply");
    }
    // Noise before the reply does not stretch the wait for it; reply bytes do.
    if (collector.stored() > 0) {
      deadline = arrived + timeouts_.inter_byte;
    } else {
      deadline = std::max(first_byte_deadline, deadline);
    }
  }
}

Verdict SerialPort::judge(Line& line, std::uint32_t number,
                          std::span<const std::uint8_t, kReplyBufferSize> buffer,
                          std::uint8_t last_index) {
  if (line.check == nullptr) return Verdict::kNeedMore;
  line.reply_code.reset();
  const std::uint8_t count = last_index;
  const std::uint32_t accepted = line.check(line.context, number, buffer.data(), 0, &count, 0);
  if ((accepted & 0xFFU) != 0) return Verdict::kAccepted;
  if (line.reply_code == ZARVO_REPLY_BAD_CRC) return Verdict::kBadCrc;
  if (line.reply_code == ZARVO_REPLY_NO_SYN) return Verdict::kNoSyn;
  return Verdict::kNeedMore;
}

void SerialPort::notify(const ExchangeRecord& record) {
  std::lock_guard lock(observer_mutex_);
  if (observer_) observer_(record);
}

}  // namespace zarvo::host
