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
#include "protocol/wire.h"
#include "tests/support/port_adapter.h"

namespace {

using zarvo::kFrameBufferSize;
using zarvo::wire::kFrame;

// The input is a series of replies: [flags][count][bytes...], flags bit 0 asks
// for a valid CRC so the decoder sees the frame, bit 1 a non-zero port result.
struct FuzzPort {
  std::span<const std::uint8_t> input;
  zarvo_reply_check check = nullptr;
  void* context = nullptr;
  std::int32_t rx_state = 0;

  std::int32_t GetLineResult(std::uint32_t) { return 9; }
  void SetReplyCode(std::uint32_t, std::uint32_t) {}
  void SetRxState(std::uint32_t, std::uint32_t s) { rx_state = static_cast<std::int32_t>(s); }
  std::int32_t GetRxState(std::uint32_t) { return rx_state; }
  std::int32_t ConfigureLine(std::uint32_t, std::uint32_t, std::uint32_t) { return 0; }
  void SetReplyCheck(std::uint32_t, zarvo_reply_check c, void* x) {
    check = c;
    context = x;
  }
  std::int32_t SendAndReceive(std::uint32_t line, const std::uint8_t*, std::uint32_t,
                              std::uint8_t* rx, std::uint32_t, std::uint32_t) {
    if (input.size() < 2) return 1;
    const std::uint8_t flags = input[0];
    const std::size_t count = std::min<std::size_t>(input[1], input.size() - 2);
    const auto bytes = input.subspan(2, std::min(count, kFrameBufferSize));
    input = input.subspan(2 + count);
    std::memcpy(rx, bytes.data(), bytes.size());
    // The CRC is sealed in place: the SYNs stay as the input has them.
    if ((flags & 1) != 0 && bytes.size() > kFrame.length) {
      const unsigned n = std::min<unsigned>(rx[kFrame.length], zarvo::kMaxReplyLength);
      rx[kFrame.length] = static_cast<std::uint8_t>(n);
      const std::size_t crc_at = kFrame.letter + n;
      const std::uint16_t crc = zarvo::crc_of(
          std::span<const std::uint8_t>(rx + kFrame.address, crc_at - kFrame.address));
      rx[crc_at] = static_cast<std::uint8_t>(crc & 0xFF);
      rx[crc_at + 1] = static_cast<std::uint8_t>(crc >> 8);
    }
    // The whole buffer, so the check also sees counts past the reply's end.
    const bool accepted = zarvo::testing::StoreUnderCheck(
        std::span<const std::uint8_t>(rx, kFrameBufferSize), rx, check, context, line);
    return (flags & 2) != 0 ? 3 : (accepted ? 0 : 1);
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("ZARVO_WINDIR", "/nonexistent/zarvo-fuzz", 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static FuzzPort port;
  static zarvo::testing::PortAdapter<FuzzPort> adapter(port);
  static zarvo::TVM30 driver(adapter.port(), {&zarvo::testing::CheckWithDriver, &driver});
  if (size < 2) return 0;
  // The first byte picks the request: its pump address and the column it files under.
  const std::uint8_t pump = data[0] % 34;
  port.input = std::span(data + 1, size - 1);
  const std::uint8_t request[4] = {pump, 2, zarvo::wire::kStatusRequest, 0};
  try {
    zarvo::Exchange(zarvo::Link{driver.Port, driver}, 1 + data[0] % 40, pump, request);
  } catch (const zarvo::Exception&) {
  }
  return 0;
}
