// Stopping one pump, or every pump of a line through address 0.
#include <array>

#include "driver/messages.h"
#include "driver/tvm30.h"
#include "zarvo/da30.h"

namespace zarvo {

bool TVM30::StopPump(std::uint8_t line, std::int32_t pump, bool stop) {
  if (!stop) return false;
  if (pump > kPumps || pump < 0) throw Exception(messages::kPumpOutOfRange.str());
  RequireLine(line);
  // Pump 0 is the all-pumps address: it stops the line and files under no pump.
  const auto address = static_cast<std::uint8_t>(pump);
  const std::array<std::uint8_t, 3> payload = {address, 1, wire::kStop};
  if (exchange(line, address, payload) != 0) throw ESerialIO(messages::kStopFailed.str());
  return false;
}

bool TVM30::StopAllPumps(std::uint8_t line) {
  RequireLine(line);
  const std::array<std::uint8_t, 3> payload = {wire::kEveryPump, 1, wire::kStop};
  if (exchange(line, 0, payload) != 0) throw ESerialIO(messages::kStopAllFailed.str());
  return true;
}

}  // namespace zarvo
