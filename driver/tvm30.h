// The driver object: everything it knows about the dispensers in fixed tables,
// and the commands that read and write them.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "driver/cells.h"
#include "platform/driver_log.h"
#include "port/port_dispatcher.h"
#include "protocol/exchange.h"
#include "protocol/reply_target.h"
#include "protocol/wire.h"

namespace zarvo {

// Six entries of five bytes: a code character and four price digits.
inline constexpr std::size_t kPriceEntrySize = wire::kPriceEntryWidth;
using PriceEntry = std::array<std::uint8_t, kPriceEntrySize>;
using PriceBlockEntries = std::array<PriceEntry, kNozzles>;

// Calls a command makes through the object's operation table, so that a host
// that replaced a slot sees its replacement used by these callers too.
class TableCalls {
 public:
  virtual void WriteParam(std::uint8_t line, std::uint8_t pump, std::int32_t number,
                          std::int32_t value) = 0;
  virtual std::uint8_t ReadPumpState(std::int32_t line, std::uint8_t pump) = 0;

 protected:
  ~TableCalls() = default;
};

struct Delivery {
  double volume;
  double amount;
};

// A nozzle's totalizers, as ReadTotals hands them out first and second.
struct Totals {
  double volume;
  double amount;
};

class TVM30 final : public ReplyTarget {
 public:
  // Opens the driver's log when the settings file asks for it, fills the
  // tables with their defaults and loads the settings file.
  TVM30(zarvo_port* port, ReplyCheckRegistration check);
  ~TVM30();
  TVM30(const TVM30&) = delete;
  TVM30& operator=(const TVM30&) = delete;

  // The reply check, as the port calls it after each stored byte.
  bool CheckReply(std::uint8_t line, std::span<const std::uint8_t, kFrameBufferSize> rx,
                  std::uint8_t stored) {
    return zarvo::CheckReply(Port, line, rx, stored, exchange_log());
  }

  // Commands. Arguments arrive as the host passed them, already cut to the
  // width the operation reads.
  // Prices and presets program a pump's pending parameters first, through
  // `table` as a poll does, so that the digits they send mean what the
  // dispenser reads.
  bool StopPump(std::uint8_t line, std::int32_t pump, bool stop);
  bool StopAllPumps(std::uint8_t line);
  void SetPrice(std::int32_t line, std::int32_t pump, std::int32_t nozzle, double price,
                TableCalls& table);
  void PresetVolume(std::int32_t line, std::int32_t pump, std::uint8_t nozzle, double volume,
                    TableCalls& table);
  void PresetAmount(std::int32_t line, std::int32_t pump, std::uint8_t nozzle, double amount,
                    TableCalls& table);
  std::uint8_t ReadParam(std::uint8_t line, std::uint8_t pump, std::int32_t number);
  void WriteParam(std::uint8_t line, std::uint8_t pump, std::int32_t number, std::int32_t value);
  std::uint8_t ReadPumpState(std::int32_t line, std::uint8_t pump);
  // Writes the poll record's bytes 0, 1, 14 and 15.
  void PollPump(std::uint8_t line, std::uint8_t pump, std::uint8_t nozzle_count,
                std::span<std::uint8_t, 16> record, TableCalls& table);
  // The totalizers, or nothing when the port did not take the reply.
  std::optional<Totals> ReadTotals(std::int32_t line, std::int32_t pump, std::uint8_t nozzle);
  Delivery GetDelivery(std::int32_t line, std::int32_t pump) const;

  // Every pump of every line is programmed again at its next poll.
  void MarkAllParamsPending();

  // ReplyTarget: what the reply decoder files.
  void SetPumpState(std::uint8_t line, std::uint8_t pump, std::uint8_t state) override;
  void SetTxnNo(std::uint8_t line, std::uint8_t address, std::uint16_t txn) override;
  std::uint16_t TxnNoOf(std::uint8_t line, std::uint8_t address) const override;
  void SetDispAmount(std::uint8_t line, std::uint8_t pump, double amount) override;
  void SetDispVolume(std::uint8_t line, std::uint8_t pump, double volume) override;
  void SetTotalVolume(std::uint8_t line, std::uint8_t pump, double volume) override;
  void SetTotalAmount(std::uint8_t line, std::uint8_t pump, double amount) override;
  void SetLastParam(std::uint8_t number, std::uint8_t value) override;
  bool HasRow(std::uint8_t line, std::uint8_t pump) const override;

  std::uint8_t LastParamNo() const { return static_cast<std::uint8_t>(LastParam.load() >> 8); }
  std::uint8_t LastParamValue() const { return static_cast<std::uint8_t>(LastParam.load()); }

  // The driver's own log; off unless the settings file turns it on. First,
  // so that it outlives every field that records into it.
  platform::DriverLog Log;

  // The state tables. Lines run concurrently on their own cells; what several
  // lines share is atomic.
  PortDispatcher Port;
  PumpTable<PriceBlockEntries> PriceBlock;
  std::atomic<std::uint16_t> LastParam{0};  // LastParamNo high byte, LastParamValue low
  PumpTable<std::uint8_t> PumpState;
  PumpTable<std::uint8_t> SelectedNozzle;
  PumpTable<std::uint16_t> TxnNo;
  PumpTable<double> DispAmount;
  PumpTable<double> DispVolume;
  PumpTable<double> PresetValue;
  PumpTable<double> TotalVolume;
  PumpTable<double> TotalAmount;
  PumpTable<std::int32_t> NozzleCount;
  // 0 to 3, as UseSettings (settings_file.h) makes every stored value.
  std::atomic<std::uint8_t> SumDecimals{2};
  std::atomic<std::uint8_t> PriceDecimals{2};
  PumpTable<std::atomic<std::uint8_t>> ParamsPending;
  NozzleTable<double> PriceValue;
  // Whether the dispenser was told the entry's digits since construction: the
  // construction defaults are a guess, so an entry's first price always goes out.
  NozzleTable<bool> PriceSent;
  std::atomic<bool> MonoStart{false};
  // The decimals as cnf.INI holds them, which the settings dialog shows and
  // writes back; SumDecimals and PriceDecimals are what they stand for.
  std::atomic<std::uint8_t> StoredSumDecimals{2};
  std::atomic<std::uint8_t> StoredPriceDecimals{2};

 private:
  ExchangeLog exchange_log_{Log};

  ExchangeLog* exchange_log() { return exchange_log_.on() ? &exchange_log_ : nullptr; }
  Link link() { return Link{Port, *this, exchange_log()}; }
  std::int32_t exchange(std::uint8_t line, std::uint8_t pump, std::span<const std::uint8_t> payload,
                        ExchangeFindings* findings = nullptr);
  // Writes the decimals and parameter 42 when the pump is marked for it; the
  // mark is cleared only once all three writes went out.
  void program_pending_params(PumpCell cell, TableCalls& table);
  // The same for a command that depends on them: a line failure there is
  // the command's failure, under its own message.
  void program_before(PumpCell cell, TableCalls& table, std::string_view failure);
  // Programs the pump, records the preset, clears the readings and sends the start.
  void start_delivery(PumpCell cell, std::uint8_t nozzle, double preset_value,
                      std::span<const std::uint8_t> payload, std::string_view failure,
                      TableCalls& table);
};

// Cells of the host's arguments, or zarvo::Exception naming what is out of range.
PumpCell RequirePumpCell(long long line, long long pump);
NozzleCell RequireNozzleCell(PumpCell pump, long long nozzle);
std::uint8_t RequireLine(long long line);

}  // namespace zarvo
