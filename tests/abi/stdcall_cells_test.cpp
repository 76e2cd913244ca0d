// Every entry of the library called the way a 32-bit x86 host calls it: each
// argument one pushed stack cell (a double two), garbage above the low byte of
// 8-bit arguments, and the stack, the saved registers and the x87 stack
// checked after the call returns.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "codepage/cp1251.h"
#include "tests/abi/abi_port.h"
#include "tests/abi/raw_call_i386.h"
#include "tests/support/host_menu.h"
#include "tests/support/settings_dir.h"
#include "zarvo/da30.h"

namespace zarvo::abi {
namespace {

// Set above the low byte of every 8-bit argument: the driver must ignore it.
constexpr std::uint32_t kHigh = 0xA5C3E700;

enum Slot : std::size_t {
  kGetDriverName = 1,
  kSetLineState = 2,
  kGetLineState = 3,
  kStopPump = 4,
  kStopAllPumps = 5,
  kGetDelivery = 6,
  kReadTotals = 7,
  kReserved8 = 8,
  kGetDeliveryVolume = 9,
  kReadPumpState = 10,
  kSetPrice = 11,
  kReserved12 = 12,
  kPresetVolume = 13,
  kPresetAmount = 14,
  kReserved15 = 15,
  kOpenLine = 16,
  kReadParam = 17,
  kWriteParam = 18,
  kReserved19 = 19,
  kGetCapability = 20,
  kPollPump = 21,
  kStopPumpAlt1 = 22,
  kStopPumpAlt2 = 23,
  kAddMenuItems = 24,
  kReserved25 = 25,
  kReserved26 = 26,
};

Bytes bytes(std::initializer_list<int> values) {
  Bytes out;
  for (int v : values) out.push_back(static_cast<std::uint8_t>(v));
  return out;
}

Bytes text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes q_reply(std::uint8_t pump, char state) {
  return ReplyFrame(pump, 'Q', std::string(1, state));
}

void expect_clean_return(const RawResult& r, int x87_values = 0) {
  EXPECT_EQ(r.esp_drift, 0) << "the callee must remove exactly its own argument cells";
  EXPECT_TRUE(r.saved_registers_kept()) << "EBX, ESI and EDI must survive the call";
  EXPECT_EQ(r.x87_depth(), x87_values) << "x87 stack left by the callee";
}

std::uint32_t __attribute__((cdecl)) cdecl_sum(std::uint32_t a, std::uint32_t b) {
  return a + b;
}
std::uint32_t ZARVO_STDCALL stdcall_sum(std::uint32_t a, std::uint32_t b) {
  return a + b;
}
double ZARVO_STDCALL stdcall_half(double value) {
  return value / 2;
}
std::uint32_t __attribute__((regparm(2))) register_sum(std::uint32_t a, std::uint32_t b) {
  return a + b;
}
std::uint32_t ZARVO_STDCALL stdcall_identity(std::uint32_t a) {
  return a;
}

// The checks below are only as good as the call: it must see a callee that
// leaves its cells behind, and find a double on the x87 stack.
TEST(RawCall, tells_a_callee_that_removes_its_cells_from_one_that_does_not) {
  const RawResult cdecl_call =
      raw_call(reinterpret_cast<const void*>(&cdecl_sum), Cells().u32(2).u32(3));
  EXPECT_EQ(cdecl_call.eax, 5u);
  EXPECT_EQ(cdecl_call.esp_drift, -8);
  const RawResult stdcall_call =
      raw_call(reinterpret_cast<const void*>(&stdcall_sum), Cells().u32(2).u32(3));
  EXPECT_EQ(stdcall_call.eax, 5u);
  EXPECT_EQ(stdcall_call.esp_drift, 0);
  EXPECT_TRUE(stdcall_call.saved_registers_kept());
  EXPECT_EQ(stdcall_call.x87_depth(), 0);
  const RawResult half = raw_call(reinterpret_cast<const void*>(&stdcall_half), Cells().f64(5.0));
  EXPECT_EQ(half.x87_depth(), 1);
  EXPECT_EQ(half.st0, 2.5);
  EXPECT_EQ(half.esp_drift, 0);
  // The register call: arguments in EAX and EDX, nothing on the stack.
  const RawResult in_registers =
      raw_register_call(reinterpret_cast<const void*>(&register_sum), 0x1000, 0x0234);
  EXPECT_EQ(in_registers.eax, 0x1234u);
  EXPECT_EQ(in_registers.esp_drift, 0);
  EXPECT_TRUE(in_registers.saved_registers_kept());
  // A stdcall entry called that way takes a cell it was never given.
  EXPECT_EQ(raw_register_call(reinterpret_cast<const void*>(&stdcall_identity), 1, 2).esp_drift, 4);
}

class StdcallCells : public ::testing::Test {
 protected:
  void SetUp() override {
    port_.check_caller = [](zarvo_reply_check check, void* context, std::uint32_t line,
                            const std::uint8_t* rxbuf, const std::uint8_t* stored) {
      const RawResult r = raw_call(reinterpret_cast<const void*>(check), Cells()
                                                                             .ptr(context)
                                                                             .u32(kHigh | line)
                                                                             .ptr(rxbuf)
                                                                             .u32(0xDEAD0001)
                                                                             .ptr(stored)
                                                                             .u32(0xDEAD0002));
      expect_clean_return(r);
      EXPECT_LE(r.eax, 1u) << "the check's Boolean comes back zero-extended";
      return r.eax;
    };

    const RawResult made = raw_call(reinterpret_cast<const void*>(&GetDA30),
                                    Cells().u32(kHigh | 0x5A).ptr(&window_).ptr(port_.port()));
    expect_clean_return(made);
    self_ = reinterpret_cast<zarvo_da30*>(static_cast<std::uintptr_t>(made.eax));
    ASSERT_NE(self_, nullptr);
  }

  void TearDown() override {
    if (self_ != nullptr) destroy(self_);
    EXPECT_TRUE(port_.script_done()) << "replies left unused";
    EXPECT_EQ(port_.problems(), std::vector<std::string>{});
  }

  // The destroy entry as the hosts' language calls a destructor: Self in EAX,
  // the outermost flag in DL, garbage above it.
  static void destroy(zarvo_da30* self) {
    const auto* table = reinterpret_cast<const zarvo_da30_table*>(
        reinterpret_cast<const char*>(self->ops) - offsetof(zarvo_da30_table, ops));
    expect_clean_return(raw_register_call(
        reinterpret_cast<const void*>(table->Destroy),
        static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(self)), kHigh | 1));
  }

  const void* entry(std::size_t slot) const {
    static_assert(sizeof(zarvo_da30_ops) == 27 * sizeof(void*));
    std::array<const void*, 27> entries{};
    std::memcpy(entries.data(), self_->ops, sizeof(zarvo_da30_ops));
    return entries.at(slot);
  }

  // The object in the first cell, then the slot's own arguments.
  RawResult call(std::size_t slot, const Cells& args, int x87_values = 0) {
    Cells all;
    all.ptr(self_);
    for (std::uint32_t cell : args.cells()) all.u32(cell);
    const RawResult r = raw_call(entry(slot), all);
    expect_clean_return(r, x87_values);
    return r;
  }

  // Slots 1 and 21: the result buffer first, the object second.
  RawResult call_with_result(std::size_t slot, void* result, const Cells& args) {
    Cells all;
    all.ptr(result).ptr(self_);
    for (std::uint32_t cell : args.cells()) all.u32(cell);
    const RawResult r = raw_call(entry(slot), all);
    expect_clean_return(r);
    return r;
  }

  testing::TempSettingsDir settings_;  // no settings file: the driver starts with its defaults
  int window_ = 0;
  AbiPort port_;
  zarvo_da30* self_ = nullptr;
};

TEST_F(StdcallCells, objects_destroyed_one_after_another_leave_the_others_working) {
  for (int i = 0; i < 2; ++i) {
    const RawResult made = raw_call(reinterpret_cast<const void*>(&GetDA30),
                                    Cells().u32(0).ptr(&window_).ptr(port_.port()));
    destroy(reinterpret_cast<zarvo_da30*>(static_cast<std::uintptr_t>(made.eax)));
  }
  std::int32_t value = 0;
  EXPECT_EQ(call(kGetCapability, Cells().u32(9).ptr(&value)).eax, 1u);
}

TEST_F(StdcallCells, the_driver_name_fills_29_bytes_of_the_buffer_in_the_first_cell) {
  std::array<std::uint8_t, 64> buffer;
  buffer.fill(0xFF);
  call_with_result(kGetDriverName, buffer.data(), Cells());
  constexpr auto kName = cp1251("v2.41#Протокол колонок Zarvo");
  EXPECT_EQ(buffer[0], 28);
  EXPECT_EQ(std::string(buffer.begin() + 1, buffer.begin() + 29), kName.str());
  EXPECT_EQ(buffer[29], 0xFF);
}

TEST_F(StdcallCells, line_slots_hand_the_port_only_the_low_bytes_and_return_its_full_answer) {
  call(kSetLineState, Cells().u32(kHigh | 5).u32(kHigh | 0x81));
  port_.set_rx_state(0x7FFF0102);
  EXPECT_EQ(call(kGetLineState, Cells().u32(kHigh | 5)).eax, 0x7FFF0102u);
  port_.configure_result = -2;
  EXPECT_EQ(call(kOpenLine, Cells().u32(kHigh | 7)).eax, 0xFFFFFFFEu);
  const std::vector<PortCall> expected = {
      {"SetRxState", 5, 0x81}, {"GetRxState", 5}, {"ConfigureLine", 7, 3, 9600}};
  EXPECT_EQ(port_.calls(), expected);
}

TEST_F(StdcallCells, reserved_slots_remove_their_cells_and_do_nothing) {
  call(kReserved8, Cells().u32(1).u32(2).u32(3).u32(4).u32(5).u32(6).u32(7));
  call(kReserved12, Cells().u32(1).u32(2).u32(3));
  call(kReserved15, Cells().u32(1).u32(2).u32(3));
  call(kReserved19, Cells().u32(1).u32(2).u32(3).u32(4));
  call(kReserved25, Cells().u32(1).u32(2));
  call(kReserved26, Cells().u32(1).u32(2));
  EXPECT_TRUE(port_.sent().empty());
  EXPECT_TRUE(port_.calls().empty());
}

TEST_F(StdcallCells, capability_answers_come_back_as_whole_registers) {
  std::int32_t value = -7;
  EXPECT_EQ(call(kGetCapability, Cells().u32(9).ptr(&value)).eax, 1u);
  EXPECT_EQ(value, 99999);
  value = -7;
  EXPECT_EQ(call(kGetCapability, Cells().u32(0xFFFFFFFF).ptr(&value)).eax, 0u);
  EXPECT_EQ(value, -7);
}

TEST_F(StdcallCells, stops_read_their_flag_from_the_low_byte_and_return_clean_booleans) {
  port_.answer(q_reply(1, '0'));
  EXPECT_EQ(call(kStopPump, Cells().u32(kHigh | 1).u32(1).u32(kHigh | 1)).eax, 0u);
  EXPECT_EQ(call(kStopPump, Cells().u32(kHigh | 1).u32(1).u32(kHigh)).eax, 0u);
  port_.answer(q_reply(0, '0'));
  EXPECT_EQ(call(kStopAllPumps, Cells().u32(kHigh | 1)).eax, 1u);
  port_.answer(q_reply(7, '0'));
  EXPECT_EQ(call(kStopPumpAlt1, Cells().u32(1).u32(7).u32(0xDEADBEEF).u32(kHigh | 1)).eax, 0u);
  EXPECT_EQ(call(kStopPumpAlt2, Cells().u32(1).u32(7).u32(0xDEADBEEF).u32(kHigh)).eax, 0u);
  const std::vector<Bytes> expected = {bytes({1, 1, 0x35}), bytes({0, 1, 0x35}),
                                       bytes({7, 1, 0x35})};
  EXPECT_EQ(port_.sent(), expected);
}

TEST_F(StdcallCells, prices_and_presets_take_their_double_from_two_cells) {
  // Each pump is programmed before its first price or preset.
  for (int i = 0; i < 4; ++i) port_.answer(q_reply(2, '0'));
  call(kSetPrice, Cells().u32(1).u32(2).u32(2).u32(0xDEAD).u32(0xBEEF).f64(7.12));
  port_.answer(q_reply(2, '0'));
  call(kPresetVolume, Cells().u32(1).u32(2).u32(kHigh | 2).u32(0xDEAD).f64(20.0));
  // 1.115 is 1.11499999... in binary; the digits follow the decimal the host meant.
  for (int i = 0; i < 4; ++i) port_.answer(q_reply(1, '0'));
  call(kPresetAmount, Cells().u32(1).u32(1).u32(kHigh | 1).u32(0xDEAD).f64(1.115));
  const auto programming = [](std::uint8_t pump) {
    return std::vector<Bytes>{concat(bytes({pump, 0x05}), text("24002")),
                              concat(bytes({pump, 0x05}), text("24102")),
                              concat(bytes({pump, 0x05}), text("24200"))};
  };
  std::vector<Bytes> expected = programming(2);
  expected.push_back(concat(bytes({0x02, 0x0B}), text("4"
                                                      "40650"
                                                      "50712")));
  expected.push_back(concat(bytes({0x02, 0x13}), text("92V002000"
                                                      "40650"
                                                      "50712")));
  for (const Bytes& write : programming(1)) expected.push_back(write);
  expected.push_back(concat(bytes({0x01, 0x0E}), text("91A000112"
                                                      "40650")));
  EXPECT_EQ(port_.sent(), expected);
}

TEST_F(StdcallCells, parameter_slots_pass_low_bytes_and_return_the_value_zero_extended) {
  port_.answer(ReplyFrame(3, '3', "071F"));
  EXPECT_EQ(call(kReadParam, Cells().u32(kHigh | 1).u32(kHigh | 3).u32(7)).eax, 31u);
  port_.answer(q_reply(3, '0'));
  call(kWriteParam, Cells().u32(kHigh | 1).u32(kHigh | 3).u32(40).u32(2));
  const std::vector<Bytes> expected = {bytes({3, 3, '3', '0', '7'}),
                                       bytes({3, 5, '2', '4', '0', '0', '2'})};
  EXPECT_EQ(port_.sent(), expected);
}

TEST_F(StdcallCells, polling_fills_the_record_in_the_first_cell_and_removes_five_cells) {
  for (int i = 0; i < 3; ++i) port_.answer(q_reply(4, '0'));
  port_.answer(ReplyFrame(4, 'J', "000300"));
  std::array<std::uint8_t, 16> record;
  record.fill(0xEE);
  call_with_result(kPollPump, record.data(), Cells().u32(kHigh | 1).u32(kHigh | 4).u32(kHigh | 1));
  EXPECT_EQ(record[0], 228);
  EXPECT_EQ(record[1], 0);
  EXPECT_EQ(record[2], 0xEE);
  EXPECT_EQ(record[13], 0xEE);
  EXPECT_EQ(record[14], 228 & 7);
  EXPECT_EQ(record[15], 0);
  ASSERT_EQ(port_.sent().size(), 4u);
  EXPECT_EQ(port_.sent()[3], bytes({4, 2, 'J', 0}));
}

TEST_F(StdcallCells, readings_come_back_through_out_cells_and_the_x87_register) {
  using std::string_literals::operator""s;
  port_.answer(ReplyFrame(3, 'R',
                          "\x00\x07"s
                          "3xx"
                          "0012.34"
                          "0005.67"));
  EXPECT_EQ(call(kReadPumpState, Cells().u32(1).u32(kHigh | 3)).eax, 219u);

  double volume = -1;
  double amount = -1;
  call(kGetDelivery, Cells().u32(1).u32(3).ptr(&volume).ptr(&amount));
  EXPECT_EQ(volume, 5.67);
  EXPECT_EQ(amount, 12.34);

  amount = -1;
  const RawResult r = call(kGetDeliveryVolume, Cells().u32(1).u32(3).ptr(&amount), 1);
  EXPECT_EQ(r.st0, 5.67);
  EXPECT_EQ(amount, 12.34);

  port_.answer(ReplyFrame(3, 'B',
                          "\x00"s
                          "0000001234.50"
                          "0000009876.54"));
  port_.answer(q_reply(3, '0'));  // the acknowledgement the totals reply calls for
  double first = -1;
  double second = -1;
  call(kReadTotals,
       Cells().u32(1).u32(3).u32(kHigh | 2).ptr(&first).ptr(&second).u32(0xDEAD).u32(0xBEEF));
  EXPECT_EQ(first, 1234.5);
  EXPECT_EQ(second, 9876.54);
  ASSERT_EQ(port_.sent().size(), 3u);
  EXPECT_EQ(port_.sent()[1], bytes({3, 2, 'B', '2'}));
  EXPECT_EQ(port_.sent()[2], bytes({3, 3, 'L', 0, '0'}));
}

TEST_F(StdcallCells, the_menu_slot_calls_the_hosts_factory_and_item_entries_with_stdcall) {
  testing::HostMenuItem menu;
  menu.Add(cp1251("&Файл").str());
  testing::HostMenuItem& pumps = menu.Add(cp1251("&ТРК").str());
  call(kAddMenuItems, Cells().ptr(&menu).ptr(reinterpret_cast<const void*>(&testing::NewHostItem)));
  EXPECT_EQ(menu.ItemCount(), 4);  // the factory was asked once
  ASSERT_EQ(pumps.children.size(), 1u);
  EXPECT_EQ(pumps.children[0]->created_at_index, -1);
  EXPECT_EQ(pumps.children[0]->caption, cp1251("Программирование параметров (Zarvo)").str());
  EXPECT_NE(pumps.children[0]->on_click, nullptr);
}

TEST_F(StdcallCells, failures_leave_a_slot_as_exceptions_of_the_library_types) {
  try {
    call(kStopPump, Cells().u32(1).u32(33).u32(1));
    ADD_FAILURE() << "pump 33 was accepted";
  } catch (const ESerialIO&) {
    ADD_FAILURE() << "a range error is no line failure";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), cp1251("Номер колонки выходит за допустимый диапозон").c_str());
  }
  // Slot 0 is declared only: a call must raise, not fall through anywhere.
  EXPECT_THROW(raw_call(entry(0), Cells().ptr(self_)), Exception);
  port_.fail(3);
  try {
    call(kReadParam, Cells().u32(1).u32(3).u32(7));
    ADD_FAILURE() << "a failed exchange went unreported";
  } catch (const ESerialIO& e) {
    EXPECT_STREQ(e.what(), "Can't GetPar");
  }
}

}  // namespace
}  // namespace zarvo::abi
