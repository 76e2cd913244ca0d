// CRC-16/KERMIT, the checksum of every frame on the dispenser line.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace zarvo {

// The reflected form of polynomial 0x1021, initial value 0, no final XOR.
inline constexpr std::uint16_t kCrcPolynomialReflected = 0x8408;
inline constexpr std::uint16_t kCrcInitial = 0x0000;

namespace detail {
constexpr std::uint16_t crc_fold_bitwise(std::uint8_t byte, std::uint16_t crc) {
  for (int round = 0; round < 8; ++round) {
    const bool differ = ((crc ^ byte) & 1U) != 0;
    crc = static_cast<std::uint16_t>(crc >> 1);
    if (differ) crc ^= kCrcPolynomialReflected;
    byte = static_cast<std::uint8_t>(byte >> 1);
  }
  return crc;
}

constexpr std::array<std::uint16_t, 256> make_crc_table() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) table[i] = crc_fold_bitwise(static_cast<std::uint8_t>(i), 0);
  return table;
}
}  // namespace detail

inline constexpr std::array<std::uint16_t, 256> kCrcTable = detail::make_crc_table();

// Folds one byte into the caller's running CRC (least significant bit first).
constexpr void CrcUpdate(std::uint8_t byte, std::uint16_t& crc) {
  crc = static_cast<std::uint16_t>((crc >> 8) ^ kCrcTable[(crc ^ byte) & 0xFFU]);
}

constexpr std::uint16_t crc_of(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = kCrcInitial;
  for (const std::uint8_t b : bytes) CrcUpdate(b, crc);
  return crc;
}

}  // namespace zarvo
