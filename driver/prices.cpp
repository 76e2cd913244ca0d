// Nozzle prices: the pump's block of six entries mirrors what the dispenser
// was last told, and only a change of digits is sent once an entry went out.
#include <algorithm>
#include <array>
#include <string>

#include "driver/digits.h"
#include "driver/messages.h"
#include "driver/tvm30.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

constexpr std::size_t kPriceDigits = 4;

}  // namespace

void TVM30::SetPrice(std::int32_t line, std::int32_t pump, std::int32_t nozzle, double price,
                     TableCalls& table) {
  if (pump > kPumps) throw Exception(messages::kPumpOutOfRange.str());
  const PumpCell cell = RequirePumpCell(line, pump);
  const NozzleCell nozzle_cell = RequireNozzleCell(cell, nozzle);
  // The digits are the price times 10 to the power of its decimals.
  std::array<std::uint8_t, kPriceDigits> digits{};
  if (!WriteDigitField(price, PriceDecimals, Rounding::kHalfEven, digits)) {
    throw Exception(messages::kPriceOutOfRange.str() + ShortestText(price));
  }

  std::int32_t& count = NozzleCount[cell];
  if (nozzle > 1) count = std::max(count, nozzle);
  if (MonoStart && count == 1) count = 0;  // a single-product pump gets the mono start
  PriceValue[nozzle_cell] = price;

  PriceEntry& entry = PriceBlock[cell][static_cast<std::size_t>(nozzle - 1)];
  const bool unchanged = std::equal(digits.begin(), digits.end(), entry.begin() + 1);
  std::copy(digits.begin(), digits.end(), entry.begin() + 1);
  if (unchanged && PriceSent[nozzle_cell]) return;

  const auto entries = static_cast<std::size_t>(std::max(count, 1));
  using wire::kPayload;
  std::array<std::uint8_t, kPayload.data + kNozzles * kPriceEntrySize> payload{};
  payload[kPayload.address] = static_cast<std::uint8_t>(pump);
  payload[kPayload.length] = static_cast<std::uint8_t>(entries * kPriceEntrySize + 1);
  payload[kPayload.letter] = wire::kSetPrices;
  for (std::size_t i = 0; i < entries; ++i) {
    std::ranges::copy(PriceBlock[cell][i], payload.begin() + kPayload.data + i * kPriceEntrySize);
  }
  const auto size = kPayload.data + entries * kPriceEntrySize;
  // Only a command the dispenser answered tells it the digits: after a failed
  // one the same price goes out again.
  PriceSent[nozzle_cell] = false;
  program_before(cell, table, messages::kPriceFailed.view());
  if (exchange(static_cast<std::uint8_t>(line), static_cast<std::uint8_t>(pump),
               std::span(payload).first(size)) != 0) {
    throw ESerialIO(messages::kPriceFailed.str());
  }
  for (std::size_t i = 0; i < entries; ++i) {
    PriceSent[RequireNozzleCell(cell, static_cast<long long>(i) + 1)] = true;
  }
}

}  // namespace zarvo
