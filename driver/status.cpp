// Pump state, polling, totalizers and delivery readings.
#include <array>
#include <cmath>
#include <string>

#include "driver/messages.h"
#include "driver/tvm30.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

// An amount within one price step of the preset is the preset itself.
double corrected_amount(double preset, double amount, double price) {
  const double step = price / 100;
  return step > std::fabs(preset - amount) ? preset : amount;
}

}  // namespace

void TVM30::program_pending_params(PumpCell cell, TableCalls& table) {
  const auto line = static_cast<std::uint8_t>(cell.line());
  const auto pump = static_cast<std::uint8_t>(cell.pump());
  // The mark is taken before the writes: a settings confirmation that lands
  // meanwhile marks the pump again instead of being wiped by these writes.
  if (ParamsPending[cell].exchange(0) == 0) return;
  try {
    table.WriteParam(line, pump, wire::kAmountDecimalsParam, SumDecimals);
    table.WriteParam(line, pump, wire::kPriceDecimalsParam, PriceDecimals);
    table.WriteParam(line, pump, wire::kZeroedParam, 0);
  } catch (...) {
    ParamsPending[cell] = 1;  // the next command writes all three again
    throw;
  }
}

void TVM30::program_before(PumpCell cell, TableCalls& table, std::string_view failure) {
  try {
    program_pending_params(cell, table);
  } catch (const ESerialIO&) {
    throw ESerialIO(std::string(failure));
  }
}

std::uint8_t TVM30::ReadPumpState(std::int32_t line, std::uint8_t pump) {
  const PumpCell cell = RequirePumpCell(line, pump);
  const auto line8 = static_cast<std::uint8_t>(line);
  const std::array<std::uint8_t, 4> payload = {pump, 2, wire::kStatusRequest, 0};
  if (exchange(line8, pump, payload) != 0) throw ESerialIO(messages::kStatusFailed.str());
  return Port.ReplyTaken(line8) ? PumpState[cell] : 0;
}

void TVM30::PollPump(std::uint8_t line, std::uint8_t pump, std::uint8_t nozzle_count,
                     std::span<std::uint8_t, 16> record, TableCalls& table) {
  const PumpCell cell = RequirePumpCell(line, pump);
  if (nozzle_count > kNozzles) throw Exception(messages::kNozzleCountOutOfRange.str());
  if (nozzle_count > 1) NozzleCount[cell] = nozzle_count;
  program_pending_params(cell, table);
  const std::uint8_t state = table.ReadPumpState(line, pump);
  record[0] = state;
  record[1] = 0;
  record[14] = static_cast<std::uint8_t>(state & 7);
  record[15] = 0;
}

std::optional<Totals> TVM30::ReadTotals(std::int32_t line, std::int32_t pump, std::uint8_t nozzle) {
  const PumpCell cell = RequirePumpCell(line, pump);
  RequireNozzleCell(cell, nozzle);
  const auto line8 = static_cast<std::uint8_t>(line);
  const auto address = static_cast<std::uint8_t>(pump);
  const std::array<std::uint8_t, 4> payload = {address, 2, wire::kTotalsRequest,
                                               static_cast<std::uint8_t>('0' + nozzle)};
  ExchangeFindings findings;
  if (exchange(line8, address, payload, &findings) != 0) {
    throw ESerialIO(messages::kStatusFailed.str());
  }
  // The pair is the pump's, not the nozzle's: any other reply, though taken,
  // would hand out what an earlier request for another nozzle left there.
  if (!Port.ReplyTaken(line8) || !findings.totals) return std::nullopt;
  return Totals{TotalVolume[cell], TotalAmount[cell]};
}

Delivery TVM30::GetDelivery(std::int32_t line, std::int32_t pump) const {
  const PumpCell cell = RequirePumpCell(line, pump);
  const NozzleCell nozzle = RequireNozzleCell(cell, SelectedNozzle[cell]);
  return {DispVolume[cell],
          corrected_amount(PresetValue[cell], DispAmount[cell], PriceValue[nozzle])};
}

}  // namespace zarvo
