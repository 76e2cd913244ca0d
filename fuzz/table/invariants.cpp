#include "fuzz/table/invariants.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "protocol/decode.h"

namespace zarvo::table_fuzz {

using wire::kFrame;
using wire::kSyn;

namespace {

bool is_digit(std::uint8_t c) {
  return c >= '0' && c <= '9';
}
bool is_hex(std::uint8_t c) {
  return is_digit(c) || (c >= 'A' && c <= 'F');
}
bool all_digits(std::span<const std::uint8_t> field) {
  return std::ranges::all_of(field, is_digit);
}

bool holds(const std::vector<double>& values, double v) {
  return std::ranges::any_of(values, [v](double x) { return same(x, v); });
}

}  // namespace

void broken(const char* invariant) {
  std::fprintf(stderr, "table_fuzz: broken invariant: %s\n", invariant);
  std::abort();
}

void require(bool holds, const char* invariant) {
  if (!holds) broken(invariant);
}

bool trace() {
  static const bool on = std::getenv("TABLE_FUZZ_TRACE") != nullptr;
  return on;
}

void trace_bytes(const char* tag, std::span<const std::uint8_t> bytes) {
  if (!trace()) return;
  std::fprintf(stderr, "  %s", tag);
  for (const std::uint8_t b : bytes) std::fprintf(stderr, " %02X", b);
  std::fprintf(stderr, "\n");
}

std::uint16_t kermit(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0;
  for (const std::uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<std::uint16_t>((crc & 1) != 0 ? (crc >> 1) ^ 0x8408 : crc >> 1);
    }
  }
  return crc;
}

bool intact(const FrameBuffer& rx) {
  if (rx[0] != kSyn && rx[1] != kSyn) return false;
  const unsigned n = rx[kFrame.length];
  if (n > kMaxReplyLength) return false;
  const std::uint16_t crc = kermit(std::span(rx).subspan(2, n + 2));
  return rx[n + 4] == (crc & 0xFF) && rx[n + 5] == (crc >> 8);
}

bool reports_ended_delivery(const FrameBuffer& rx) {
  for (std::size_t k = 1; k <= 6; ++k) {
    const std::uint8_t c = rx[kFrame.letter + k];
    if (c == '0' || c == '1' || c == '8') continue;
    return c == 'A' || c == 'B';
  }
  return false;
}

std::optional<double> field_value(const FrameBuffer& rx, std::size_t pos, std::size_t width) {
  try {
    return ReplyFieldValue(std::span(rx).subspan(pos, width));
  } catch (const Exception&) {
    return std::nullopt;
  }
}

bool same(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}

bool bitwise_same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

void check_frame(std::span<const std::uint8_t> frame) {
  require(frame.size() >= 7 && frame[0] == kSyn && frame[1] == kSyn,
          "a frame starts SYN SYN and holds a request");
  const auto payload = frame.subspan(2, frame.size() - 4);
  require(payload[1] + 2U == payload.size(), "a frame's length byte counts its payload");
  const std::uint16_t crc = kermit(payload);
  require(frame[frame.size() - 2] == (crc & 0xFF) && frame.back() == (crc >> 8),
          "a frame carries its CRC");
  const auto price_entries = [&](std::size_t from) {
    for (std::size_t at = from; at + 5 <= payload.size(); at += 5) {
      const auto entry = payload.subspan(at, 5);
      // An entry the driver never priced is five zero bytes.
      const bool never_priced = std::ranges::all_of(entry, [](std::uint8_t c) { return c == 0; });
      require(never_priced || all_digits(entry.subspan(1, 4)), "price entries carry digits");
    }
  };
  switch (payload[2]) {
    case 'B':
      require(payload.size() == 4 && payload[3] >= '1' && payload[3] <= '6',
              "a totals request names a nozzle 1..6");
      break;
    case '4':
      require((payload.size() - 3) % 5 == 0, "a price command carries whole entries");
      price_entries(3);
      break;
    case '9':
      require(payload[3] >= '1' && payload[3] <= '6' && all_digits(payload.subspan(5, 6)),
              "a preset carries its nozzle and six digits");
      price_entries(11);
      break;
    case '1':
      require(payload.size() == 18 && payload[3] >= '1' && payload[3] <= '6' &&
                  all_digits(payload.subspan(5, 8)),
              "a mono-product start carries its nozzle and eight digits");
      price_entries(13);
      break;
    case '3':
      require(payload.size() == 5 && all_digits(payload.subspan(3, 2)),
              "a parameter read carries two digits");
      break;
    case '2':
      require(payload.size() == 7 && all_digits(payload.subspan(3, 2)) && is_hex(payload[5]) &&
                  is_hex(payload[6]),
              "a parameter write carries two digits and two hex digits");
      break;
    default:
      break;
  }
}

void check_acknowledgement(const Exchanged& ack, const std::optional<Exchanged>& last,
                           const TVM30& driver) {
  require(last.has_value() && last->line == ack.line && ack.payload.size() == 5,
          "an acknowledgement follows a reply on its line");
  const Exchanged& ended = *last;
  const auto row = ended.row();
  require(row.has_value(), "an acknowledgement answers a reply filed in its pump's row");
  require(ack.asked() == ended.address(), "an acknowledgement goes to the pump that reported");
  const std::uint16_t txn = static_cast<std::uint16_t>(ack.payload[3] << 8 | ack.payload[4]);
  require(driver.TxnNo[*row] == txn, "an acknowledgement carries the row's transaction number");
  const FrameBuffer& rx = ended.rx;
  const auto reply_txn = static_cast<std::uint16_t>(rx[5] << 8 | rx[6]);
  switch (ended.letter()) {
    case 'a':
      require(txn == reply_txn, "an ended delivery is acknowledged with its own number");
      require(same(driver.DispAmount[*row], field_value(rx, 10, 7).value_or(NAN)) &&
                  same(driver.DispVolume[*row], field_value(rx, 17, 7).value_or(NAN)),
              "an acknowledged delivery's readings are in its row");
      break;
    case 'B':
      require(txn == reply_txn, "totals are acknowledged with their own number");
      require(same(driver.TotalVolume[*row], field_value(rx, 6, 13).value_or(NAN)) &&
                  same(driver.TotalAmount[*row], field_value(rx, 19, 13).value_or(NAN)),
              "acknowledged totals are in their row");
      break;
    case 'J':
      require(reports_ended_delivery(rx), "a status is acknowledged only when it reports an end");
      break;
    default:
      broken("only an ended delivery, totals or an ended status are acknowledged");
  }
}

void check_programming(const Exchanged& write) {
  const int number = (write.payload[3] - '0') * 10 + (write.payload[4] - '0');
  if (number == wire::kAmountDecimalsParam || number == wire::kPriceDecimalsParam) {
    require(write.payload[5] == '0' && write.payload[6] <= '3', "a poll programs 0..3 decimals");
  }
}

TableWatch::RowValues& TableWatch::values(PumpCell cell) {
  for (auto& [index, row] : rows_) {
    if (index == cell.index()) return row;
  }
  return rows_.emplace_back(cell.index(), RowValues{}).second;
}

const TableWatch::RowValues& TableWatch::known(PumpCell cell) const {
  static const RowValues kFirst;
  for (const auto& [index, row] : rows_) {
    if (index == cell.index()) return row;
  }
  return kFirst;
}

void TableWatch::note_replies(const std::vector<Exchanged>& log) {
  for (const Exchanged& e : log) {
    const auto row = e.row();
    if (!row) continue;
    RowValues& v = values(*row);
    touched_.push_back(row->index());
    switch (e.letter()) {
      case 'a':
      case 'R':
        if (const auto x = field_value(e.rx, 10, 7)) v.amounts.push_back(*x);
        if (const auto x = field_value(e.rx, 17, 7)) v.volumes.push_back(*x);
        break;
      case 'B':
        if (const auto x = field_value(e.rx, 6, 13)) v.total_volumes.push_back(*x);
        if (const auto x = field_value(e.rx, 19, 13)) v.total_amounts.push_back(*x);
        break;
      default:
        break;
    }
  }
}

void TableWatch::after_call(const TVM30& d, const std::vector<Exchanged>& log) {
  note_replies(log);
  const Readings& before = *readings_;
  const auto differ = [](const auto& now, const auto& was) {
    return std::memcmp(&now, &was, sizeof now) != 0;
  };
  if (!differ(d.DispAmount, before.amount) && !differ(d.DispVolume, before.volume) &&
      !differ(d.TotalVolume, before.total_volume) && !differ(d.TotalAmount, before.total_amount) &&
      !differ(d.PumpState, before.state)) {
    touched_.clear();
    return;
  }
  for (int line = 1; line <= kLines; ++line) {
    for (int pump = 1; pump <= kPumps; ++pump) {
      const PumpCell c = *PumpCell::of(line, pump);
      const RowValues& v = known(c);
      const auto changed = [&](const PumpTable<double>& now, const PumpTable<double>& was) {
        return !bitwise_same(now[c], was[c]);
      };
      if (changed(d.DispAmount, before.amount)) {
        require(holds(v.amounts, d.DispAmount[c]), "an amount is filed only in its pump's row");
      }
      if (changed(d.DispVolume, before.volume)) {
        require(holds(v.volumes, d.DispVolume[c]), "a volume is filed only in its pump's row");
      }
      if (changed(d.TotalVolume, before.total_volume) ||
          changed(d.TotalAmount, before.total_amount)) {
        require(
            holds(v.total_volumes, d.TotalVolume[c]) && holds(v.total_amounts, d.TotalAmount[c]),
            "totals are filed only in their pump's row");
      }
      if (d.PumpState[c] != before.state[c]) {
        require(std::ranges::find(touched_, c.index()) != touched_.end(),
                "a pump's state changes only by its own reply");
      }
    }
  }
  touched_.clear();
}

void TableWatch::check_delivery(PumpCell cell, double volume, double amount) const {
  const RowValues& v = known(cell);
  require(holds(v.volumes, volume), "GetDelivery hands out a volume of its pump's replies");
  require(holds(v.amounts, amount) || holds(v.presets, amount),
          "GetDelivery hands out an amount of its pump's replies or its preset");
}

void TableWatch::check_totals(PumpCell cell, std::uint8_t nozzle, double volume, double amount,
                              const std::vector<Exchanged>& log) const {
  const bool own = std::ranges::any_of(log, [&](const Exchanged& e) {
    return e.row() && e.row()->index() == cell.index() && e.letter() == 'B' &&
           e.payload[3] == '0' + nozzle && same(field_value(e.rx, 6, 13).value_or(NAN), volume) &&
           same(field_value(e.rx, 19, 13).value_or(NAN), amount);
  });
  require(own, "ReadTotals hands out only its own nozzle's totals reply");
}

void TableWatch::check_state(PumpCell cell, std::uint8_t state,
                             const std::vector<Exchanged>& log) const {
  const Readings& before = *readings_;
  const bool own_reply = std::ranges::any_of(
      log, [&](const Exchanged& e) { return e.row() && e.row()->index() == cell.index(); });
  require(state == 0 || state == before.state[cell] || own_reply,
          "a pump's state is handed out from its own reply");
}

}  // namespace zarvo::table_fuzz
