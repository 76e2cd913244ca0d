#include "driver/tvm30.h"

#include "driver/log_settings.h"
#include "driver/messages.h"
#include "driver/settings_file.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

constexpr PriceBlockEntries kDefaultPriceBlock = {{
    {'4', '0', '6', '5', '0'},
    {'5', '0', '7', '5', '0'},
    {'6', '0', '8', '5', '0'},
    {},
    {},
    {},
}};

}  // namespace

PumpCell RequirePumpCell(long long line, long long pump) {
  RequireLine(line);
  const auto cell = PumpCell::of(line, pump);
  if (!cell) throw Exception(messages::kPumpOutOfRange.str());
  return *cell;
}

NozzleCell RequireNozzleCell(PumpCell pump, long long nozzle) {
  const auto cell = NozzleCell::of(pump, nozzle);
  if (!cell) throw Exception(messages::kNozzleOutOfRange.str());
  return *cell;
}

std::uint8_t RequireLine(long long line) {
  if (line < 1 || line > kLines) throw Exception(messages::kLineOutOfRange.str());
  return static_cast<std::uint8_t>(line);
}

TVM30::TVM30(zarvo_port* port, ReplyCheckRegistration check) : Port(port, check, &Log) {
  OpenDriverLog(Log);
  exchange_log_.Start();
  Log.Record(platform::LogEvent::kObjectCreated);
  for (auto& block : PriceBlock) block = kDefaultPriceBlock;
  for (auto& count : NozzleCount) count = 1;
  for (auto& pending : ParamsPending) pending = 1;
  for (auto& nozzle : SelectedNozzle) nozzle = 1;
  LoadSettings(*this);
}

TVM30::~TVM30() {
  Log.Record(platform::LogEvent::kObjectDestroyed);
}

void TVM30::MarkAllParamsPending() {
  for (auto& pending : ParamsPending) pending = 1;
}

std::int32_t TVM30::exchange(std::uint8_t line, std::uint8_t pump,
                             std::span<const std::uint8_t> payload, ExchangeFindings* findings) {
  return Exchange(link(), line, pump, payload, findings);
}

// The decoder files under the exchange's line and pump; a reply for pump 0 or
// an address outside the tables has no cell and is dropped.
void TVM30::SetPumpState(std::uint8_t line, std::uint8_t pump, std::uint8_t state) {
  if (const auto cell = PumpCell::of(line, pump)) PumpState[*cell] = state;
}
void TVM30::SetTxnNo(std::uint8_t line, std::uint8_t address, std::uint16_t txn) {
  if (const auto cell = PumpCell::of(line, address)) TxnNo[*cell] = txn;
}
std::uint16_t TVM30::TxnNoOf(std::uint8_t line, std::uint8_t address) const {
  const auto cell = PumpCell::of(line, address);
  return cell ? TxnNo[*cell] : 0;
}
void TVM30::SetDispAmount(std::uint8_t line, std::uint8_t pump, double amount) {
  if (const auto cell = PumpCell::of(line, pump)) DispAmount[*cell] = amount;
}
void TVM30::SetDispVolume(std::uint8_t line, std::uint8_t pump, double volume) {
  if (const auto cell = PumpCell::of(line, pump)) DispVolume[*cell] = volume;
}
void TVM30::SetTotalVolume(std::uint8_t line, std::uint8_t pump, double volume) {
  if (const auto cell = PumpCell::of(line, pump)) TotalVolume[*cell] = volume;
}
void TVM30::SetTotalAmount(std::uint8_t line, std::uint8_t pump, double amount) {
  if (const auto cell = PumpCell::of(line, pump)) TotalAmount[*cell] = amount;
}
void TVM30::SetLastParam(std::uint8_t number, std::uint8_t value) {
  LastParam = static_cast<std::uint16_t>(number << 8 | value);
}
bool TVM30::HasRow(std::uint8_t line, std::uint8_t pump) const {
  return PumpCell::of(line, pump).has_value();
}

}  // namespace zarvo
