// Arbitrary reply bytes through the reply check and the decoder, with a port
// that answers the acknowledgements from the same input. Nothing may crash,
// read outside the reply buffer or write outside the tables.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "driver/tvm30.h"
#include "protocol/crc.h"
#include "protocol/exchange.h"

namespace {

using zarvo::kFrameBufferSize;

// The input is a series of replies: [flags][count][bytes...], flags bit 0 asks
// for a valid CRC so the decoder sees the frame, bit 1 a non-zero port result.
struct FuzzPort {
  zarvo_port port;
  std::span<const std::uint8_t> input;
  zarvo_reply_check check = nullptr;
  void* context = nullptr;
  std::int32_t rx_state = 0;

  static FuzzPort& of(zarvo_port* p) { return *reinterpret_cast<FuzzPort*>(p); }
  static void ZARVO_STDCALL unused(zarvo_port*) {}
  static std::int32_t ZARVO_STDCALL line_result(zarvo_port*, std::uint32_t) { return 9; }
  static void ZARVO_STDCALL reply_code(zarvo_port*, std::uint32_t, std::uint32_t) {}
  static void ZARVO_STDCALL set_rx(zarvo_port* p, std::uint32_t, std::uint32_t s) {
    of(p).rx_state = static_cast<std::int32_t>(s);
  }
  static std::int32_t ZARVO_STDCALL get_rx(zarvo_port* p, std::uint32_t) { return of(p).rx_state; }
  static std::int32_t ZARVO_STDCALL configure(zarvo_port*, std::uint32_t, std::uint32_t,
                                              std::uint32_t) {
    return 0;
  }
  static void ZARVO_STDCALL set_check(zarvo_port* p, std::uint32_t, zarvo_reply_check c,
                                      void* ctx) {
    of(p).check = c;
    of(p).context = ctx;
  }
  static std::int32_t ZARVO_STDCALL send(zarvo_port* p, std::uint32_t line, const std::uint8_t*,
                                         std::uint32_t, std::uint8_t* rx, std::uint32_t,
                                         std::uint32_t) {
    FuzzPort& self = of(p);
    if (self.input.size() < 2) return 1;
    const std::uint8_t flags = self.input[0];
    const std::size_t count = std::min<std::size_t>(self.input[1], self.input.size() - 2);
    const auto bytes = self.input.subspan(2, std::min(count, kFrameBufferSize));
    self.input = self.input.subspan(2 + count);
    std::memcpy(rx, bytes.data(), bytes.size());
    if ((flags & 1) != 0 && bytes.size() >= 4) {
      const unsigned n = std::min<unsigned>(rx[3], zarvo::kMaxReplyLength);
      rx[3] = static_cast<std::uint8_t>(n);
      const std::uint16_t crc = zarvo::crc_of(std::span<const std::uint8_t>(rx + 2, n + 2));
      rx[n + 4] = static_cast<std::uint8_t>(crc & 0xFF);
      rx[n + 5] = static_cast<std::uint8_t>(crc >> 8);
    }
    bool accepted = false;
    for (std::size_t i = 0; i < kFrameBufferSize && !accepted; ++i) {
      const auto stored = static_cast<std::uint8_t>(i);
      accepted = (self.check(self.context, line, rx, 0, &stored, 0) & 0xFF) != 0;
    }
    return (flags & 2) != 0 ? 3 : (accepted ? 0 : 1);
  }
};

std::uint32_t ZARVO_STDCALL check_thunk(void* context, std::uint32_t line, const std::uint8_t* rx,
                                        std::uint32_t, const std::uint8_t* stored, std::uint32_t) {
  const auto& driver = *static_cast<zarvo::TVM30*>(context);
  return zarvo::CheckReply(driver.Port, static_cast<std::uint8_t>(line),
                           std::span<const std::uint8_t, kFrameBufferSize>(rx, kFrameBufferSize),
                           *stored);
}

const zarvo_port_ops kOps = [] {
  zarvo_port_ops ops{};
  ops.slot0 = &FuzzPort::unused;
  for (auto& slot : ops.slot5_to_15) slot = &FuzzPort::unused;
  ops.slot18 = &FuzzPort::unused;
  ops.GetLineResult = &FuzzPort::line_result;
  ops.SetReplyCode = &FuzzPort::reply_code;
  ops.SetRxState = &FuzzPort::set_rx;
  ops.GetRxState = &FuzzPort::get_rx;
  ops.SendAndReceive = &FuzzPort::send;
  ops.ConfigureLine = &FuzzPort::configure;
  ops.SetReplyCheck = &FuzzPort::set_check;
  return ops;
}();

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("ZARVO_WINDIR", "/nonexistent/zarvo-fuzz", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzPort port{{&kOps}, {}, nullptr, nullptr, 0};
  static zarvo::TVM30 driver(&port.port, {&check_thunk, &driver});
  if (size < 2) return 0;
  // The first byte picks the request: its pump address and the column it files under.
  const std::uint8_t pump = data[0] % 34;
  port.input = std::span(data + 1, size - 1);
  const std::uint8_t request[4] = {pump, 2, 'J', 0};
  try {
    zarvo::Exchange(zarvo::Link{driver.Port, driver}, 1 + data[0] % 40, pump, request);
  } catch (const zarvo::Exception&) {
  }
  return 0;
}
