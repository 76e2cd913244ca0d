#include "fuzz/table/session.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <utility>

#include "library/driver_object.h"

namespace zarvo::table_fuzz {

namespace {

constexpr int kSlots = 27;
constexpr int kRecreate = kSlots;  // destroy, write the settings file, GetDA30

bool valid_line(long long line) {
  return line >= 1 && line <= kLines;
}
std::optional<PumpCell> cell(long long line, long long pump) {
  return PumpCell::of(line, pump);
}
std::uint8_t low8(std::uint32_t v) {
  return static_cast<std::uint8_t>(v);
}
std::int32_t s32(std::uint32_t v) {
  return static_cast<std::int32_t>(v);
}

// Whether the arguments alone must make the call raise before any exchange.
bool must_refuse(int op, const SlotArgs& g) {
  const auto bad_nozzle = [](long long n) { return n < 1 || n > kNozzles; };
  const auto bad_stop = [](long long line, std::int32_t pump) {
    return !valid_line(line) || pump < 0 || pump > kPumps;
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
      return !cell(low8(g.a), low8(g.b)) || low8(g.c) > kNozzles;
    case 22:
    case 23:
      return low8(g.d) != 0 && bad_stop(s32(g.a), s32(g.b));
    default:
      return false;
  }
}

}  // namespace

std::string settings_dir() {
  static const std::string dir = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "zarvo-table-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) broken("a private settings folder");
    return pattern;
  }();
  return dir;
}

FuzzPort Session::port_;
testing::PortAdapter<FuzzPort> Session::adapter_(Session::port_);

Session::Session(Program& program) : program_(program) {
  port_.program = &program;
  port_.reset();
  std::filesystem::remove(settings_dir() + "/cnf.INI");
  create();
}

Session::~Session() {
  if (object_ != nullptr) zarvo_da30_destroy(object_);
}

void Session::step() {
  const int op = program_.u8() % (kSlots + 1);
  if (op == kRecreate) {
    recreate();
    return;
  }
  port_.slot = op;
  call(op);
}

TVM30& Session::driver() {
  return DriverOf(object_);
}

void Session::create() {
  object_ = GetDA30(0, nullptr, adapter_.port());
  port_.driver = &driver();
  watch_.forget();
  const TVM30& d = driver();
  const auto in_use = [](std::uint8_t stored) { return stored <= 3 ? stored : 2; };
  require(d.SumDecimals == in_use(d.StoredSumDecimals) &&
              d.PriceDecimals == in_use(d.StoredPriceDecimals),
          "decimals outside 0..3 stand for 2");
}

void Session::recreate() {
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

SlotArgs Session::read_args(int op) {
  SlotArgs g;
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

void Session::call(int op) {
  const SlotArgs g = read_args(op);
  if (trace()) {
    std::fprintf(stderr, "slot %d (%u, %u, %u, %u, %g)\n", op, g.a, g.b, g.c, g.d, g.x);
  }
  TVM30& d = driver();
  before_.resize(sizeof(TVM30));
  std::memcpy(before_.data(), reinterpret_cast<const unsigned char*>(&d), sizeof(TVM30));
  watch_.before_call(d);
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
  Outcome outcome = Outcome::kReturned;
  try {
    dispatch(op, g, ops, self, out1, out2, result, poll);
  } catch (const ESerialIO&) {
    outcome = Outcome::kSerialIO;
  } catch (const Exception&) {
    outcome = Outcome::kRefused;
  } catch (const PortFailure&) {
    outcome = Outcome::kPortFailure;
  } catch (...) {
    broken("only the driver's own exceptions leave a slot");
  }
  port_.fail_forwarded = false;
  if (trace()) std::fprintf(stderr, "  -> outcome %d\n", static_cast<int>(outcome));

  if (outcome == Outcome::kPortFailure) {
    require(op == 2 || op == 3 || op == 16, "a port failure leaves only a forwarding slot");
  }
  const bool sent_nothing = port_.exchanges_begun == 0;
  if (must_refuse(op, g)) {
    require(outcome == Outcome::kRefused, "bad arguments are refused");
    require(sent_nothing, "a refused call sends nothing");
  }
  if (outcome == Outcome::kRefused && sent_nothing) {
    require(
        std::memcmp(before_.data(), reinterpret_cast<const unsigned char*>(&d), sizeof(TVM30)) == 0,
        "a refused call leaves every table byte as it was");
  }
  // A preset clears the row's readings, and its amount may be reported back.
  if (op == 13 || op == 14) {
    if (const auto c = cell(s32(g.a), s32(g.b))) watch_.preset(*c, g.x);
  }
  watch_.after_call(d, port_.log);
  const bool returned = outcome == Outcome::kReturned;
  if (returned && (op == 6 || op == 9))
    watch_.check_delivery(*cell(s32(g.a), s32(g.b)), out1, out2);
  if (op == 7 && !bitwise_same(out1, kUnset)) {
    require(returned, "a failed totals read hands out nothing");
    watch_.check_totals(*cell(s32(g.a), s32(g.b)), low8(g.c), out1, out2, port_.log);
  }
  if (returned && op == 10) {
    watch_.check_state(*cell(s32(g.a), low8(g.b)), low8(result), port_.log);
  }
  if (returned && op == 21)
    watch_.check_state(*cell(low8(g.a), low8(g.b)), poll.bytes[0], port_.log);
}

void Session::dispatch(int op, const SlotArgs& g, const zarvo_da30_ops& ops, zarvo_da30* self,
                       double& out1, double& out2, std::uint32_t& result, zarvo_poll_result& poll) {
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

}  // namespace zarvo::table_fuzz
