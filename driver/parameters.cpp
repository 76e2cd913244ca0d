// Reading and writing the dispenser's one-byte parameters.
#include <array>
#include <string>

#include "driver/digits.h"
#include "driver/messages.h"
#include "driver/tvm30.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

// A write's answer is filed under no pump; a read's under the pump asked, the
// only one whose reply it takes.
constexpr std::uint8_t kWriteFiledUnder = wire::kEveryPump;

// Two characters carry the number: anything above 99 would name another parameter.
void write_number_field(std::int32_t number, std::span<std::uint8_t, 2> field) {
  if (number < 0 || number > 99) {
    throw Exception(messages::kParamNoOutOfRange.str() + std::to_string(number));
  }
  WriteDigits(static_cast<std::uint64_t>(number), field);
}

void write_value_field(std::int32_t value, std::span<std::uint8_t, 2> field) {
  if (value < 0 || value > 255) {
    throw Exception(messages::kParamValueOutOfRange.str() + std::to_string(value));
  }
  constexpr std::string_view kHex = "0123456789ABCDEF";
  field[0] = static_cast<std::uint8_t>(kHex[static_cast<std::size_t>(value >> 4)]);
  field[1] = static_cast<std::uint8_t>(kHex[static_cast<std::size_t>(value & 0xF)]);
}

}  // namespace

std::uint8_t TVM30::ReadParam(std::uint8_t line, std::uint8_t pump, std::int32_t number) {
  // Address 0 would have every pump of the line answer at once.
  RequirePumpCell(line, pump);
  std::array<std::uint8_t, 5> payload = {pump, 3, wire::kReadParam, 0, 0};
  write_number_field(number,
                     std::span(payload).subspan<wire::kPayload.data, wire::kParamNumberWidth>());
  ExchangeFindings findings;
  if (exchange(line, pump, payload, &findings) != 0) {
    throw ESerialIO(messages::kReadParamFailed.str());
  }
  // Only this exchange's own parameter reply answers the question.
  if (!findings.parameter || findings.parameter->number != number) {
    throw Exception(messages::kParamNotInReply.str());
  }
  return findings.parameter->value;
}

void TVM30::WriteParam(std::uint8_t line, std::uint8_t pump, std::int32_t number,
                       std::int32_t value) {
  RequireLine(line);
  if (pump != 0) RequirePumpCell(line, pump);  // 0 writes to every pump
  std::array<std::uint8_t, 7> payload = {pump, 5, wire::kWriteParam, 0, 0, 0, 0};
  write_number_field(number,
                     std::span(payload).subspan<wire::kPayload.data, wire::kParamNumberWidth>());
  write_value_field(
      value, std::span(payload)
                 .subspan<wire::kPayload.data + wire::kParamNumberWidth, wire::kParamValueWidth>());
  if (exchange(line, kWriteFiledUnder, payload) != 0) {
    throw ESerialIO(messages::kWriteParamFailed.str());
  }
}

}  // namespace zarvo
