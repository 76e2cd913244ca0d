// A host's program against the operation table: calls of any slot with any
// arguments, and a fresh driver object now and then over a settings file of
// any content. Every exchange is answered by a port the input drives. After
// every call the invariants below are checked; a broken one aborts.
//
// Every read takes whole bytes from the end of the input, in reading order
// (FuzzedDataProvider's integers), so a seed is its bytes in reading order,
// reversed: fuzz/make_table_seeds.py writes the seed corpus that way.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "driver/tvm30.h"
#include "library/driver_object.h"
#include "protocol/decode.h"
#include "protocol/wire.h"
#include "tests/support/port_adapter.h"
#include "zarvo/da30.h"

namespace {

using zarvo::FrameBuffer;
using zarvo::TVM30;

using zarvo::wire::kFrame;
using zarvo::wire::kSyn;
constexpr int kSlots = 27;
constexpr int kRecreate = kSlots;  // destroy, write the settings file, GetDA30

[[noreturn]] void broken(const char* invariant) {
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

// CRC-16/KERMIT bit by bit, apart from the driver's table.
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

bool is_digit(std::uint8_t c) {
  return c >= '0' && c <= '9';
}
bool is_hex(std::uint8_t c) {
  return is_digit(c) || (c >= 'A' && c <= 'F');
}
bool all_digits(std::span<const std::uint8_t> field) {
  return std::ranges::all_of(field, is_digit);
}

bool same(double a, double b) {
  return a == b || (std::isnan(a) && std::isnan(b));
}
bool bitwise_same(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

std::optional<double> field_value(const FrameBuffer& rx, std::size_t pos, std::size_t width) {
  try {
    return zarvo::ReplyFieldValue(std::span(rx).subspan(pos, width));
  } catch (const zarvo::Exception&) {
    return std::nullopt;
  }
}

class Program {
 public:
  Program(const std::uint8_t* data, std::size_t size) : fdp_(data, size) {}
  bool done() { return fdp_.remaining_bytes() == 0; }
  std::uint8_t u8() { return fdp_.ConsumeIntegral<std::uint8_t>(); }
  std::uint16_t u16() { return fdp_.ConsumeIntegral<std::uint16_t>(); }
  std::uint32_t u32() { return fdp_.ConsumeIntegral<std::uint32_t>(); }
  std::uint64_t u64() { return fdp_.ConsumeIntegral<std::uint64_t>(); }
  // Mostly small values, in range and out; from 0xF0 a whole 32-bit word,
  // which for 8-bit arguments is garbage above the low byte.
  std::uint32_t arg() {
    const std::uint8_t b = u8();
    return b < 0xF0 ? b : u32();
  }
  std::int32_t sarg() { return static_cast<std::int32_t>(arg()); }
  double number() {
    static constexpr double kInf = std::numeric_limits<double>::infinity();
    static constexpr std::array<double, 24> kPool = {
        std::numeric_limits<double>::quiet_NaN(),
        kInf,
        -kInf,
        -0.0,
        0.0,
        std::numeric_limits<double>::max(),
        -std::numeric_limits<double>::max(),
        std::numeric_limits<double>::min(),
        std::numeric_limits<double>::denorm_min(),
        1e300,
        1e-300,
        -1.0,
        1.115,
        0.005,
        9999.99,
        99.995,
        1e15,
        12.5,
        0.5,
        7.12,
        60.0,
        500.0,
        4294967296.0,
        -std::numeric_limits<double>::quiet_NaN(),
    };
    const std::uint8_t b = u8();
    if (b < 32) return kPool[b % kPool.size()];
    if (b < 0xF0) return u16() / 100.0;
    return std::bit_cast<double>(u64());
  }
  std::string setting() {
    const std::uint8_t b = u8();
    return std::to_string(b < 0xF0 ? static_cast<int>(b) - 16 : static_cast<std::int32_t>(u32()));
  }

 private:
  FuzzedDataProvider fdp_;
};

struct PortFailure {};

// One request the driver sent and what was in its reply buffer afterwards.
struct Exchanged {
  std::uint8_t line = 0;
  std::vector<std::uint8_t> payload;
  FrameBuffer rx{};
  bool filed = false;  // intact, from the pump asked, and the port returned

  std::uint8_t asked() const { return payload[0]; }
  std::uint8_t type() const { return payload[2]; }
  // The row the reply's readings belong in: writes and acknowledgements have none.
  std::uint8_t column() const { return type() == '2' || type() == 'L' ? 0 : asked(); }
  std::uint8_t address() const { return rx[kFrame.address]; }
  std::uint8_t letter() const { return rx[kFrame.letter]; }
  std::optional<zarvo::PumpCell> row() const {
    if (!filed || column() == 0 || address() != column()) return std::nullopt;
    return zarvo::PumpCell::of(line, column());
  }
};

bool intact(const FrameBuffer& rx) {
  if (rx[0] != kSyn && rx[1] != kSyn) return false;
  const unsigned n = rx[kFrame.length];
  if (n > zarvo::kMaxReplyLength) return false;
  const std::uint16_t crc = kermit(std::span(rx).subspan(2, n + 2));
  return rx[n + 4] == (crc & 0xFF) && rx[n + 5] == (crc >> 8);
}

// The first status character that decides something, as the dispenser means
// it: "0", "1" and "8" leave the scan going.
bool reports_ended_delivery(const FrameBuffer& rx) {
  for (std::size_t k = 1; k <= 6; ++k) {
    const std::uint8_t c = rx[kFrame.letter + k];
    if (c == '0' || c == '1' || c == '8') continue;
    return c == 'A' || c == 'B';
  }
  return false;
}

// Values that replies filed for a row carried, and the host's own presets.
struct RowValues {
  std::vector<double> amounts{0.0};
  std::vector<double> volumes{0.0};
  std::vector<double> presets{0.0};
  std::vector<double> total_volumes{0.0};
  std::vector<double> total_amounts{0.0};
};

bool holds(const std::vector<double>& values, double v) {
  return std::ranges::any_of(values, [v](double x) { return same(x, v); });
}

std::string number_text(std::uint32_t value, unsigned decimals) {
  std::string text = std::to_string(value);
  if (decimals == 0) return text;
  if (text.size() <= decimals) text.insert(0, decimals + 1 - text.size(), '0');
  text.insert(text.size() - decimals, ".");
  return text;
}

class FuzzPort {
 public:
  Program* program = nullptr;
  TVM30* driver = nullptr;
  int slot = -1;
  std::vector<Exchanged> log;  // this call's exchanges
  int exchanges_begun = 0;     // SetReplyCheck calls in this call
  bool fail_forwarded = false;

  void reset() {
    rx_state_.fill(0);
    line_result_ = 0;
    fault_ = Fault::kNone;
    last_.reset();
    log.clear();
  }

  std::int32_t GetLineResult(std::uint32_t) {
    if (fault_ == Fault::kGetLineResult) throw PortFailure{};
    return line_result_;
  }
  void SetReplyCode(std::uint32_t, std::uint32_t) {
    if (fault_ == Fault::kSetReplyCode) throw PortFailure{};
  }
  void SetRxState(std::uint32_t line, std::uint32_t state) {
    if (fault_ == Fault::kSetRxState || fail_forwarded) throw PortFailure{};
    rx_state_[line & 0xFF] = static_cast<std::int32_t>(state);
  }
  std::int32_t GetRxState(std::uint32_t line) {
    if (fault_ == Fault::kGetRxState || fail_forwarded) throw PortFailure{};
    return rx_state_[line & 0xFF];
  }
  std::int32_t ConfigureLine(std::uint32_t, std::uint32_t, std::uint32_t) {
    if (fail_forwarded) throw PortFailure{};
    return 0;
  }
  void SetReplyCheck(std::uint32_t line, zarvo_reply_check check, void* context) {
    ++exchanges_begun;
    check_ = check;
    context_ = context;
    const std::uint8_t flags = program->u8();
    fault_ = static_cast<Fault>(flags & 7);
    if ((flags & 8) == 0) rx_state_[line & 0xFF] = 0;  // else the last reply's state stays
    override_result_ = (flags & 16) != 0;
    if (fault_ == Fault::kSetReplyCheck) throw PortFailure{};
  }

  std::int32_t SendAndReceive(std::uint32_t line, const std::uint8_t* tx, std::uint32_t len,
                              std::uint8_t* rx, std::uint32_t, std::uint32_t) {
    const std::span<const std::uint8_t> frame(tx, len);
    trace_bytes("[", frame);
    check_frame(frame);
    Exchanged now;
    now.line = static_cast<std::uint8_t>(line);
    now.payload.assign(frame.begin() + 2, frame.end() - 2);
    if (now.type() == 'L') check_acknowledgement(now);
    if (slot == 21 && now.type() == '2') check_programming(now);

    std::vector<std::uint8_t> reply;
    const std::uint8_t kind = program->u8() % 4;
    if (kind == 1) {
      line_result_ = program->sarg();
      last_ = now;  // nothing filed
      throw PortFailure{};
    }
    if (kind == 2) {
      const std::uint8_t n = program->u8();
      for (unsigned i = 0; i < n; ++i) reply.push_back(program->u8());
    } else if (kind == 3) {
      reply = framed_reply(now.asked());
    }
    // Stored byte by byte from the first, the check asked after each.
    bool accepted = false;
    const std::size_t count = std::min<std::size_t>(reply.size(), zarvo::kFrameBufferSize);
    std::size_t stored = 0;
    while (stored < count && !accepted) {
      rx[stored] = now.rx[stored] = reply[stored];
      const auto index = static_cast<std::uint8_t>(stored++);
      accepted = (check_(context_, line, rx, 0, &index, 0) & 0xFF) != 0;
    }
    trace_bytes("<", std::span(now.rx).first(stored));
    now.filed = intact(now.rx) && (now.asked() == 0 || now.address() == now.asked());
    last_ = now;
    log.push_back(now);
    if (override_result_) return program->sarg();
    return accepted ? 0 : 5;
  }

 private:
  enum class Fault : std::uint8_t {
    kNone,
    kSetReplyCheck,
    kSetReplyCode,
    kSetRxState,
    kGetRxState,
    kGetLineResult,
  };

  std::vector<std::uint8_t> field(std::size_t width) {
    std::vector<std::uint8_t> bytes;
    const std::uint8_t mode = program->u8();
    if (mode < 0x80) {
      const std::uint32_t value = program->u32();
      std::string text = number_text(value, mode % 4);
      if (text.size() < width) text.insert(0, width - text.size(), ' ');
      text.resize(width);
      bytes.assign(text.begin(), text.end());
    } else {
      for (std::size_t i = 0; i < width; ++i) bytes.push_back(program->u8());
    }
    return bytes;
  }

  std::vector<std::uint8_t> framed_reply(std::uint8_t asked) {
    static constexpr std::string_view kTypes = "aRBJQ3";
    static constexpr std::string_view kStatus = "0123456789ABC";
    const std::uint8_t a = program->u8();
    const std::uint8_t address = a < 0xC0 ? asked : static_cast<std::uint8_t>(a & 0x3F);
    const std::uint8_t t = program->u8();
    const std::uint8_t type = t < kTypes.size() ? static_cast<std::uint8_t>(kTypes[t]) : t;
    std::vector<std::uint8_t> data;
    const auto append = [&](const std::vector<std::uint8_t>& bytes) {
      data.insert(data.end(), bytes.begin(), bytes.end());
    };
    switch (type) {
      case 'a':
      case 'R':
        for (int i = 0; i < 3; ++i) data.push_back(program->u8());  // number, state
        data.push_back(' ');
        data.push_back(' ');
        append(field(7));
        append(field(7));
        break;
      case 'B':
        data.push_back(program->u8());
        append(field(13));
        append(field(13));
        break;
      case 'J':
        for (int i = 0; i < 6; ++i) {
          const std::uint8_t c = program->u8();
          data.push_back(c < kStatus.size() ? static_cast<std::uint8_t>(kStatus[c]) : c);
        }
        break;
      case 'Q':
        data.push_back(program->u8());
        break;
      case '3':
        for (int i = 0; i < 4; ++i) data.push_back(program->u8());
        break;
      default:
        for (unsigned n = program->u8() % 32; n > 0; --n) data.push_back(program->u8());
        break;
    }
    std::vector<std::uint8_t> frame(data.size() + 1 + zarvo::wire::kFrameOverhead);
    frame.resize(zarvo::wire::encode_frame(frame, address, type, data));
    const std::uint8_t damage = program->u8();
    if ((damage & 1) != 0) frame[frame.size() - 2] ^= 0x5A;
    if ((damage & 2) != 0) frame.resize(std::min<std::size_t>(frame.size(), program->u8()));
    return frame;
  }

  // SYN SYN, the payload its length byte announces, its CRC, and digits where
  // the request carries digits.
  static void check_frame(std::span<const std::uint8_t> frame) {
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

  // An acknowledgement releases the ended delivery the reply before it
  // reported, and only once its readings are in the reporting pump's row.
  void check_acknowledgement(const Exchanged& ack) const {
    require(last_.has_value() && last_->line == ack.line && ack.payload.size() == 5,
            "an acknowledgement follows a reply on its line");
    const Exchanged& ended = *last_;
    const auto row = ended.row();
    require(row.has_value(), "an acknowledgement answers a reply filed in its pump's row");
    require(ack.asked() == ended.address(), "an acknowledgement goes to the pump that reported");
    const std::uint16_t txn = static_cast<std::uint16_t>(ack.payload[3] << 8 | ack.payload[4]);
    require(driver->TxnNo[*row] == txn, "an acknowledgement carries the row's transaction number");
    const FrameBuffer& rx = ended.rx;
    const auto reply_txn = static_cast<std::uint16_t>(rx[5] << 8 | rx[6]);
    switch (ended.letter()) {
      case 'a':
        require(txn == reply_txn, "an ended delivery is acknowledged with its own number");
        require(same(driver->DispAmount[*row], field_value(rx, 10, 7).value_or(NAN)) &&
                    same(driver->DispVolume[*row], field_value(rx, 17, 7).value_or(NAN)),
                "an acknowledged delivery's readings are in its row");
        break;
      case 'B':
        require(txn == reply_txn, "totals are acknowledged with their own number");
        require(same(driver->TotalVolume[*row], field_value(rx, 6, 13).value_or(NAN)) &&
                    same(driver->TotalAmount[*row], field_value(rx, 19, 13).value_or(NAN)),
                "acknowledged totals are in their row");
        break;
      case 'J':
        require(reports_ended_delivery(rx), "a status is acknowledged only when it reports an end");
        break;
      default:
        broken("only an ended delivery, totals or an ended status are acknowledged");
    }
  }

  // A poll programs the decimals in use, never a value no dispenser takes.
  static void check_programming(const Exchanged& write) {
    const int number = (write.payload[3] - '0') * 10 + (write.payload[4] - '0');
    if (number == 40 || number == 41) {
      require(write.payload[5] == '0' && write.payload[6] <= '3', "a poll programs 0..3 decimals");
    }
  }

  std::array<std::int32_t, 256> rx_state_{};
  std::int32_t line_result_ = 0;
  Fault fault_ = Fault::kNone;
  bool override_result_ = false;
  std::optional<Exchanged> last_;
  zarvo_reply_check check_ = nullptr;
  void* context_ = nullptr;
};

std::string settings_dir() {
  static const std::string dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zarvo-table-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) broken("a private settings folder");
    return pattern;
  }();
  return dir;
}

// The tables whose changes the checks after a call judge.
struct Readings {
  zarvo::PumpTable<double> amount, volume, total_volume, total_amount;
  zarvo::PumpTable<std::uint8_t> state;

  explicit Readings(const TVM30& d)
      : amount(d.DispAmount),
        volume(d.DispVolume),
        total_volume(d.TotalVolume),
        total_amount(d.TotalAmount),
        state(d.PumpState) {}
};

struct Outcome {
  enum class Kind { kReturned, kRefused, kSerialIO, kPortFailure } kind = Kind::kReturned;
};

class Session {
 public:
  explicit Session(Program& program) : program_(program) {
    port_.program = &program;
    port_.reset();
    std::filesystem::remove(settings_dir() + "/cnf.INI");
    create();
  }
  ~Session() {
    if (object_ != nullptr) zarvo_da30_destroy(object_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void step() {
    const int op = program_.u8() % (kSlots + 1);
    if (op == kRecreate) {
      recreate();
      return;
    }
    port_.slot = op;
    call(op);
  }

 private:
  static FuzzPort port_;
  static zarvo::testing::PortAdapter<FuzzPort> adapter_;

  TVM30& driver() { return zarvo::DriverOf(object_); }
  // Rows no reply or preset reached hold their first values, so only those
  // that one did are kept.
  RowValues& values(zarvo::PumpCell cell) {
    for (auto& [index, row] : rows_) {
      if (index == cell.index()) return row;
    }
    return rows_.emplace_back(cell.index(), RowValues{}).second;
  }
  const RowValues& known(zarvo::PumpCell cell) const {
    static const RowValues kFirst;
    for (const auto& [index, row] : rows_) {
      if (index == cell.index()) return row;
    }
    return kFirst;
  }

  void create() {
    object_ = GetDA30(0, nullptr, adapter_.port());
    port_.driver = &driver();
    rows_.clear();
    const TVM30& d = driver();
    const auto in_use = [](std::uint8_t stored) { return stored <= 3 ? stored : 2; };
    require(d.SumDecimals == in_use(d.StoredSumDecimals) &&
                d.PriceDecimals == in_use(d.StoredPriceDecimals),
            "decimals outside 0..3 stand for 2");
  }

  void recreate() {
    zarvo_da30_destroy(std::exchange(object_, nullptr));
    const std::string file = settings_dir() + "/cnf.INI";
    switch (program_.u8() % 4) {
      case 0:
        std::filesystem::remove(file);
        break;
      case 1: {
        std::string text = "[Zarvo]\nSDec=" + program_.setting();
        text += "\nPDec=" + program_.setting();
        text += "\nMPTRK=" + program_.setting() + "\n";
        std::ofstream(file, std::ios::binary) << text;
        break;
      }
      case 2: {
        std::string text;
        for (unsigned n = program_.u8(); n > 0; --n) text += static_cast<char>(program_.u8());
        std::ofstream(file, std::ios::binary) << text;
        break;
      }
      default:
        break;  // the file stays as it is
    }
    create();
  }

  // Arguments the host passed, for the checks after the call.
  struct Args {
    std::uint32_t a = 0, b = 0, c = 0, d = 0;
    double x = 0;
  };

  static bool valid_line(long long line) { return line >= 1 && line <= zarvo::kLines; }
  static std::optional<zarvo::PumpCell> cell(long long line, long long pump) {
    return zarvo::PumpCell::of(line, pump);
  }
  static std::uint8_t low8(std::uint32_t v) { return static_cast<std::uint8_t>(v); }
  static std::int32_t s32(std::uint32_t v) { return static_cast<std::int32_t>(v); }

  // Whether the arguments alone must make the call raise before any exchange.
  static bool must_refuse(int op, const Args& g) {
    const auto bad_nozzle = [](long long n) { return n < 1 || n > zarvo::kNozzles; };
    const auto bad_stop = [](long long line, std::int32_t pump) {
      return !valid_line(line) || pump < 0 || pump > zarvo::kPumps;
    };
    switch (op) {
      case 0:
        return true;
      case 4:
        return low8(g.c) != 0 && bad_stop(low8(g.a), s32(g.b));
      case 5:
        return !valid_line(low8(g.a));
      case 6:
      case 9:
        return !cell(s32(g.a), s32(g.b));
      case 7:
      case 13:
      case 14:
        return !cell(s32(g.a), s32(g.b)) || bad_nozzle(low8(g.c));
      case 10:
        return !cell(s32(g.a), low8(g.b));
      case 11:
        return !cell(s32(g.a), s32(g.b)) || bad_nozzle(s32(g.c));
      case 17:
        return !cell(low8(g.a), low8(g.b)) || s32(g.c) < 0 || s32(g.c) > 99;
      case 18:
        return !valid_line(low8(g.a)) || (low8(g.b) != 0 && !cell(low8(g.a), low8(g.b))) ||
               s32(g.c) < 0 || s32(g.c) > 99 || s32(g.d) < 0 || s32(g.d) > 255;
      case 21:
        return !cell(low8(g.a), low8(g.b)) || low8(g.c) > zarvo::kNozzles;
      case 22:
      case 23:
        return low8(g.d) != 0 && bad_stop(s32(g.a), s32(g.b));
      default:
        return false;
    }
  }

  Args read_args(int op) {
    Args g;
    switch (op) {
      case 2:
        g.a = program_.arg();
        g.b = program_.arg();
        break;
      case 3:
      case 5:
      case 16:
      case 20:
        g.a = program_.arg();
        break;
      case 6:
      case 9:
      case 10:
        g.a = program_.arg();
        g.b = program_.arg();
        break;
      case 4:
      case 7:
      case 17:
      case 21:
        g.a = program_.arg();
        g.b = program_.arg();
        g.c = program_.arg();
        break;
      case 11:
      case 13:
      case 14:
        g.a = program_.arg();
        g.b = program_.arg();
        g.c = program_.arg();
        g.x = program_.number();
        break;
      case 18:
      case 22:
      case 23:
        g.a = program_.arg();
        g.b = program_.arg();
        g.c = program_.arg();
        g.d = program_.arg();
        break;
      default:
        break;
    }
    if (op == 2 || op == 3 || op == 16) port_.fail_forwarded = (program_.u8() & 1) != 0;
    return g;
  }

  void call(int op) {
    const Args g = read_args(op);
    if (trace()) {
      std::fprintf(stderr, "slot %d (%u, %u, %u, %u, %g)\n", op, g.a, g.b, g.c, g.d, g.x);
    }
    TVM30& d = driver();
    before_.resize(sizeof(TVM30));
    std::memcpy(before_.data(), reinterpret_cast<const unsigned char*>(&d), sizeof(TVM30));
    readings_.emplace(d);
    port_.log.clear();
    port_.exchanges_begun = 0;

    zarvo_da30* self = object_;
    const zarvo_da30_ops& ops = *self->ops;
    constexpr double kUnset = -7777.25;
    double out1 = kUnset;
    double out2 = kUnset;
    std::uint32_t result = 0xDEADBEEF;
    zarvo_poll_result poll{};
    poll.bytes[0] = 0xA5;
    Outcome outcome;
    try {
      dispatch(op, g, ops, self, out1, out2, result, poll);
    } catch (const zarvo::ESerialIO&) {
      outcome.kind = Outcome::Kind::kSerialIO;
    } catch (const zarvo::Exception&) {
      outcome.kind = Outcome::Kind::kRefused;
    } catch (const PortFailure&) {
      outcome.kind = Outcome::Kind::kPortFailure;
    } catch (...) {
      broken("only the driver's own exceptions leave a slot");
    }
    port_.fail_forwarded = false;
    if (trace()) std::fprintf(stderr, "  -> outcome %d\n", static_cast<int>(outcome.kind));

    if (outcome.kind == Outcome::Kind::kPortFailure) {
      require(op == 2 || op == 3 || op == 16, "a port failure leaves only a forwarding slot");
    }
    const bool sent_nothing = port_.exchanges_begun == 0;
    if (must_refuse(op, g)) {
      require(outcome.kind == Outcome::Kind::kRefused, "bad arguments are refused");
      require(sent_nothing, "a refused call sends nothing");
    }
    if (outcome.kind == Outcome::Kind::kRefused && sent_nothing) {
      require(std::memcmp(before_.data(), reinterpret_cast<const unsigned char*>(&d),
                          sizeof(TVM30)) == 0,
              "a refused call leaves every table byte as it was");
    }
    note_presets(op, g);
    note_replies();
    check_rows();
    const bool returned = outcome.kind == Outcome::Kind::kReturned;
    if (returned && (op == 6 || op == 9)) check_delivery(g, out1, out2);
    if (op == 7 && !bitwise_same(out1, kUnset)) {
      require(returned, "a failed totals read hands out nothing");
      check_totals(g, out1, out2);
    }
    if (returned && op == 10) check_state(*cell(s32(g.a), low8(g.b)), low8(result));
    if (returned && op == 21) check_state(*cell(low8(g.a), low8(g.b)), poll.bytes[0]);
  }

  void dispatch(int op, const Args& g, const zarvo_da30_ops& ops, zarvo_da30* self, double& out1,
                double& out2, std::uint32_t& result, zarvo_poll_result& poll) {
    switch (op) {
      case 0:
        ops.Reserved0(self);
        break;
      case 1: {
        zarvo_driver_name name{};
        ops.GetDriverName(&name, self);
        require(name.bytes[0] == 28, "the driver's name is 28 bytes");
        break;
      }
      case 2:
        ops.SetLineState(self, g.a, g.b);
        break;
      case 3:
        result = static_cast<std::uint32_t>(ops.GetLineState(self, g.a));
        break;
      case 4:
        result = ops.StopPump(self, g.a, s32(g.b), g.c);
        break;
      case 5:
        result = ops.StopAllPumps(self, g.a);
        break;
      case 6:
        ops.GetDelivery(self, s32(g.a), s32(g.b), &out1, &out2);
        break;
      case 7:
        ops.ReadTotals(self, s32(g.a), s32(g.b), g.c, &out1, &out2, 0, 0);
        break;
      case 8:
        ops.Reserved8(self, 0, 0, 0, 0, 0, 0, 0);
        break;
      case 9:
        out1 = ops.GetDeliveryVolume(self, s32(g.a), s32(g.b), &out2);
        break;
      case 10:
        result = ops.ReadPumpState(self, s32(g.a), g.b);
        break;
      case 11:
        ops.SetPrice(self, s32(g.a), s32(g.b), s32(g.c), 0, 0, g.x);
        break;
      case 12:
        ops.Reserved12(self, 0, 0, 0);
        break;
      case 13:
        ops.PresetVolume(self, s32(g.a), s32(g.b), g.c, 0, g.x);
        break;
      case 14:
        ops.PresetAmount(self, s32(g.a), s32(g.b), g.c, 0, g.x);
        break;
      case 15:
        ops.Reserved15(self, 0, 0, 0);
        break;
      case 16:
        result = static_cast<std::uint32_t>(ops.OpenLine(self, g.a));
        break;
      case 17:
        result = ops.ReadParam(self, g.a, g.b, s32(g.c));
        break;
      case 18:
        ops.WriteParam(self, g.a, g.b, s32(g.c), s32(g.d));
        break;
      case 19:
        ops.Reserved19(self, 0, 0, 0, 0);
        break;
      case 20: {
        std::int32_t value = -1;
        result = ops.GetCapability(self, g.a, &value);
        break;
      }
      case 21:
        ops.PollPump(&poll, self, g.a, g.b, g.c);
        break;
      case 22:
        result = ops.StopPumpAlt1(self, s32(g.a), s32(g.b), 0, g.d);
        break;
      case 23:
        result = ops.StopPumpAlt2(self, s32(g.a), s32(g.b), 0, g.d);
        break;
      case 24:
        ops.AddMenuItems(self, nullptr, nullptr);
        break;
      case 25:
        ops.Reserved25(self, 0, 0);
        break;
      case 26:
        ops.Reserved26(self, 0, 0);
        break;
      default:
        break;
    }
  }

  // A preset clears the row's readings, and its amount may be reported back.
  void note_presets(int op, const Args& g) {
    if (op != 13 && op != 14) return;
    if (const auto c = cell(s32(g.a), s32(g.b))) values(*c).presets.push_back(g.x);
  }

  void note_replies() {
    for (const Exchanged& e : port_.log) {
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

  // Every reading that changed came from a reply filed for its row.
  void check_rows() {
    const Readings& before = *readings_;
    const TVM30& d = driver();
    const auto differ = [](const auto& now, const auto& was) {
      return std::memcmp(&now, &was, sizeof now) != 0;
    };
    if (!differ(d.DispAmount, before.amount) && !differ(d.DispVolume, before.volume) &&
        !differ(d.TotalVolume, before.total_volume) &&
        !differ(d.TotalAmount, before.total_amount) && !differ(d.PumpState, before.state)) {
      touched_.clear();
      return;
    }
    for (int line = 1; line <= zarvo::kLines; ++line) {
      for (int pump = 1; pump <= zarvo::kPumps; ++pump) {
        const zarvo::PumpCell c = *cell(line, pump);
        const RowValues& v = known(c);
        const auto changed = [&](const zarvo::PumpTable<double>& now,
                                 const zarvo::PumpTable<double>& was) {
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

  void check_delivery(const Args& g, double volume, double amount) {
    const RowValues& v = known(*cell(s32(g.a), s32(g.b)));
    require(holds(v.volumes, volume), "GetDelivery hands out a volume of its pump's replies");
    require(holds(v.amounts, amount) || holds(v.presets, amount),
            "GetDelivery hands out an amount of its pump's replies or its preset");
  }

  // Totals are per nozzle: only this call's own reply may answer them.
  void check_totals(const Args& g, double first, double second) {
    const zarvo::PumpCell c = *cell(s32(g.a), s32(g.b));
    const bool own = std::ranges::any_of(port_.log, [&](const Exchanged& e) {
      return e.row() && e.row()->index() == c.index() && e.letter() == 'B' &&
             e.payload[3] == '0' + low8(g.c) &&
             same(field_value(e.rx, 6, 13).value_or(NAN), first) &&
             same(field_value(e.rx, 19, 13).value_or(NAN), second);
    });
    require(own, "ReadTotals hands out only its own nozzle's totals reply");
  }

  void check_state(zarvo::PumpCell c, std::uint8_t state) {
    const Readings& before = *readings_;
    const bool own_reply = std::ranges::any_of(
        port_.log, [&](const Exchanged& e) { return e.row() && e.row()->index() == c.index(); });
    require(state == 0 || state == before.state[c] || own_reply,
            "a pump's state is handed out from its own reply");
  }

  Program& program_;
  zarvo_da30* object_ = nullptr;
  std::vector<std::pair<std::size_t, RowValues>> rows_;
  std::vector<std::size_t> touched_;
  std::vector<unsigned char> before_;  // the whole object, for refused calls
  std::optional<Readings> readings_;
};

FuzzPort Session::port_;
zarvo::testing::PortAdapter<FuzzPort> Session::adapter_(Session::port_);

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("ZARVO_WINDIR", settings_dir().c_str(), 1);
  std::atexit([] { std::filesystem::remove_all(settings_dir()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Program program(data, size);
  Session session(program);
  while (!program.done()) session.step();
  return 0;
}
