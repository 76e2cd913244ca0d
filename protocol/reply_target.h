// Where decoded replies are filed. The driver's state tables implement it;
// a write for a line or pump that has no cell is dropped there.
#pragma once

#include <cstdint>

namespace zarvo {

class ReplyTarget {
 public:
  virtual void SetPumpState(std::uint8_t line, std::uint8_t pump, std::uint8_t state) = 0;
  virtual void SetTxnNo(std::uint8_t line, std::uint8_t address, std::uint16_t txn) = 0;
  // 0 where the line or address has no cell.
  virtual std::uint16_t TxnNoOf(std::uint8_t line, std::uint8_t address) const = 0;
  virtual void SetDispAmount(std::uint8_t line, std::uint8_t pump, double amount) = 0;
  virtual void SetDispVolume(std::uint8_t line, std::uint8_t pump, double volume) = 0;
  virtual void SetTotalVolume(std::uint8_t line, std::uint8_t pump, double volume) = 0;
  virtual void SetTotalAmount(std::uint8_t line, std::uint8_t pump, double amount) = 0;
  virtual void SetLastParam(std::uint8_t number, std::uint8_t value) = 0;
  // Whether the tables have a row for this line and pump.
  virtual bool HasRow(std::uint8_t line, std::uint8_t pump) const = 0;

 protected:
  ~ReplyTarget() = default;
};

}  // namespace zarvo
