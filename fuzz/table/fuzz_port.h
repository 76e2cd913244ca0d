// The port the fuzzer's program drives: for every exchange the input says
// whether a port entry raises, what the line's result is, and what comes
// back (nothing, bytes of any kind, or a framed reply of any type with any
// fields, damaged or not). It keeps this call's exchanges for the checks after
// the call, and checks each frame the driver sends as it goes out.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "driver/tvm30.h"
#include "fuzz/table/program.h"
#include "protocol/limits.h"
#include "protocol/wire.h"
#include "zarvo/da30.h"

namespace zarvo::table_fuzz {

// What a port entry raises: an exception of the host's, not the driver's.
struct PortFailure {};

// One request the driver sent and what was in its reply buffer afterwards.
struct Exchanged {
  std::uint8_t line = 0;
  std::vector<std::uint8_t> payload;
  FrameBuffer rx{};
  bool filed = false;  // intact, from the pump asked, and the port returned

  std::uint8_t asked() const { return payload[wire::kPayload.address]; }
  std::uint8_t type() const { return payload[wire::kPayload.letter]; }
  // The row the reply's readings belong in: writes and acknowledgements have none.
  std::uint8_t column() const {
    return type() == wire::kWriteParam || type() == wire::kAcknowledge ? 0 : asked();
  }
  std::uint8_t address() const { return rx[wire::kFrame.address]; }
  std::uint8_t letter() const { return rx[wire::kFrame.letter]; }
  std::optional<PumpCell> row() const {
    if (!filed || column() == 0 || address() != column()) return std::nullopt;
    return PumpCell::of(line, column());
  }
};

class FuzzPort {
 public:
  Program* program = nullptr;
  TVM30* driver = nullptr;
  int slot = -1;
  std::vector<Exchanged> log;  // this call's exchanges
  int exchanges_begun = 0;     // SetReplyCheck calls in this call
  bool fail_forwarded = false;

  void reset();

  // The entries the driver calls (tests/support/port_adapter.h).
  std::int32_t GetLineResult(std::uint32_t line);
  void SetReplyCode(std::uint32_t line, std::uint32_t code);
  void SetRxState(std::uint32_t line, std::uint32_t state);
  std::int32_t GetRxState(std::uint32_t line);
  std::int32_t ConfigureLine(std::uint32_t line, std::uint32_t mode, std::uint32_t baud);
  void SetReplyCheck(std::uint32_t line, zarvo_reply_check check, void* context);
  std::int32_t SendAndReceive(std::uint32_t line, const std::uint8_t* tx, std::uint32_t len,
                              std::uint8_t* rx, std::uint32_t, std::uint32_t);

 private:
  enum class Fault : std::uint8_t {
    kNone,
    kSetReplyCheck,
    kSetReplyCode,
    kSetRxState,
    kGetRxState,
    kGetLineResult,
  };

  // A reply field: a number of up to three decimals, right-aligned, or any bytes.
  std::vector<std::uint8_t> field(std::size_t width);
  std::vector<std::uint8_t> framed_reply(std::uint8_t asked);

  std::array<std::int32_t, 256> rx_state_{};
  std::int32_t line_result_ = 0;
  Fault fault_ = Fault::kNone;
  bool override_result_ = false;
  std::optional<Exchanged> last_;
  zarvo_reply_check check_ = nullptr;
  void* context_ = nullptr;
};

}  // namespace zarvo::table_fuzz
