// Calls a stdcall entry on 32-bit x86 from an array of stack cells and
// reports what a careful host would check afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace zarvo::abi {

struct RawResult {
  std::uint32_t eax;
  std::uint32_t edx;
  // ESP after the call minus ESP before the arguments were pushed: 0 when the
  // callee removed exactly its own arguments.
  std::int32_t esp_drift;
  // The x87 status word after the call; TOP (bits 11..13) is 7 when the callee
  // left one value on the register stack, 0 when it left none.
  std::uint32_t x87_status;
  double st0;  // the value popped from the x87 stack, if one was left
  // Callee-saved registers after the call; the call loads them with kEbx etc.
  std::uint32_t ebx;
  std::uint32_t esi;
  std::uint32_t edi;

  static constexpr std::uint32_t kEbx = 0x5EB05EB0;
  static constexpr std::uint32_t kEsi = 0x5E515E51;
  static constexpr std::uint32_t kEdi = 0x5ED15ED1;

  int x87_depth() const {
    const unsigned top = (x87_status >> 11) & 7;
    return top == 0 ? 0 : static_cast<int>(8 - top);
  }
  bool saved_registers_kept() const { return ebx == kEbx && esi == kEsi && edi == kEdi; }
};
static_assert(offsetof(RawResult, st0) == 16 && offsetof(RawResult, edi) == 32);

// The arguments as the caller pushes them, first argument at the lowest address.
class Cells {
 public:
  Cells& u32(std::uint32_t value) {
    cells_.push_back(value);
    return *this;
  }
  Cells& ptr(const void* pointer) {
    return u32(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer)));
  }
  // A double takes two cells, the low half first.
  Cells& f64(double value) {
    std::uint32_t halves[2];
    std::memcpy(halves, &value, sizeof halves);
    return u32(halves[0]).u32(halves[1]);
  }
  const std::vector<std::uint32_t>& cells() const { return cells_; }

 private:
  std::vector<std::uint32_t> cells_;
};

// Pushes the cells right to left, loads the callee-saved registers with the
// marker values, calls entry and records the outcome. Exceptions pass through.
RawResult raw_call(const void* entry, const Cells& args);

// Calls entry with nothing on the stack and eax and edx in those registers,
// as the station hosts' language calls a destructor (Self, outermost flag).
RawResult raw_register_call(const void* entry, std::uint32_t eax, std::uint32_t edx);

}  // namespace zarvo::abi
