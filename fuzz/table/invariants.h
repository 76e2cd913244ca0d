// What must hold after every call of the fuzzer's program, and the fuzzer's
// own reading of frames and replies: its CRC and its status scan are written
// apart from the driver's on purpose, so that a fault there is found rather
// than copied. A broken invariant aborts with its words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "driver/tvm30.h"
#include "fuzz/table/fuzz_port.h"

namespace zarvo::table_fuzz {

[[noreturn]] void broken(const char* invariant);
void require(bool holds, const char* invariant);

// TABLE_FUZZ_TRACE in the environment prints each call and frame.
bool trace();
void trace_bytes(const char* tag, std::span<const std::uint8_t> bytes);

// CRC-16/KERMIT bit by bit, apart from the driver's table.
std::uint16_t kermit(std::span<const std::uint8_t> bytes);
// A whole reply with its CRC in the buffer.
bool intact(const FrameBuffer& rx);
// The first status character that decides something, as the dispenser means
// it: "0", "1" and "8" leave the scan going.
bool reports_ended_delivery(const FrameBuffer& rx);
// A reply field as the driver reads it, or nothing where it refuses it.
std::optional<double> field_value(const FrameBuffer& rx, std::size_t pos, std::size_t width);
bool same(double a, double b);  // NaN is NaN
bool bitwise_same(double a, double b);

// SYN SYN, the payload its length byte announces, its CRC, and digits where
// the request carries digits.
void check_frame(std::span<const std::uint8_t> frame);
// An acknowledgement releases the ended delivery the reply before it
// reported, and only once its readings are in the reporting pump's row.
void check_acknowledgement(const Exchanged& ack, const std::optional<Exchanged>& last,
                           const TVM30& driver);
// A poll programs the decimals in use, never a value no dispenser takes.
void check_programming(const Exchanged& write);

// What a call may change in the tables: a reading only to a value that a
// reply filed for its own row carried (an amount also to the host's preset),
// a pump's state only through its own reply.
class TableWatch {
 public:
  // A fresh driver object: every row holds its first values again.
  void forget() { rows_.clear(); }
  void before_call(const TVM30& driver) { readings_.emplace(driver); }
  // A preset clears the row's readings, and its amount may be reported back.
  void preset(PumpCell cell, double value) { values(cell).presets.push_back(value); }
  // Takes in what this call's replies carried; every reading that changed
  // must be one of them.
  void after_call(const TVM30& driver, const std::vector<Exchanged>& log);

  void check_delivery(PumpCell cell, double volume, double amount) const;
  // Totals are per nozzle: only this call's own reply may answer them.
  void check_totals(PumpCell cell, std::uint8_t nozzle, double volume, double amount,
                    const std::vector<Exchanged>& log) const;
  void check_state(PumpCell cell, std::uint8_t state, const std::vector<Exchanged>& log) const;

 private:
  // Values that replies filed for a row carried, and the host's own presets.
  struct RowValues {
    std::vector<double> amounts{0.0};
    std::vector<double> volumes{0.0};
    std::vector<double> presets{0.0};
    std::vector<double> total_volumes{0.0};
    std::vector<double> total_amounts{0.0};
  };
  // The tables whose changes the checks after a call judge.
  struct Readings {
    PumpTable<double> amount, volume, total_volume, total_amount;
    PumpTable<std::uint8_t> state;

    explicit Readings(const TVM30& d)
        : amount(d.DispAmount),
          volume(d.DispVolume),
          total_volume(d.TotalVolume),
          total_amount(d.TotalAmount),
          state(d.PumpState) {}
  };

  // Rows no reply or preset reached hold their first values, so only those
  // that one did are kept.
  RowValues& values(PumpCell cell);
  const RowValues& known(PumpCell cell) const;
  void note_replies(const std::vector<Exchanged>& log);

  std::vector<std::pair<std::size_t, RowValues>> rows_;
  std::vector<std::size_t> touched_;
  std::optional<Readings> readings_;
};

}  // namespace zarvo::table_fuzz
