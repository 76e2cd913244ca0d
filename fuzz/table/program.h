// The fuzzer's input read as a host's program: which slot to call, the
// arguments, the numbers, the settings file's values, and for every exchange
// how the port behaves. Every read takes whole bytes from the end of the
// input, in reading order (FuzzedDataProvider's integers), so a seed is its
// bytes in reading order, reversed: fuzz/make_table_seeds.py writes the seed
// corpus that way.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

namespace zarvo::table_fuzz {

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

}  // namespace zarvo::table_fuzz
