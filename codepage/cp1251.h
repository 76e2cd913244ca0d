// Texts the driver shows or sends are code page 1251. Sources are UTF-8, so
// literal texts are converted at compile time; a character outside the code
// page fails the build instead of reaching a user as garbage.
#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zarvo {

template <std::size_t Capacity>
struct Cp1251Text {
  std::array<char, Capacity> bytes{};
  std::size_t size = 0;

  constexpr std::string_view view() const { return {bytes.data(), size}; }
  std::string str() const { return std::string(view()); }
  const char* c_str() const { return bytes.data(); }  // NUL-terminated
};

namespace detail {
// Code points of bytes 0x80..0xBF; 0xC0..0xFF are А..я in order. 0x98 is unassigned.
inline constexpr std::array<char16_t, 64> kCp1251Upper{
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

// The code point of one byte; 0 for the unassigned byte.
constexpr char32_t cp1251_code_point(unsigned char byte) {
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
  return kCp1251Upper[byte - 0x80];
}

constexpr int cp1251_byte_for(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(cp - 0x0410 + 0xC0);
  for (std::size_t k = 0; k < kCp1251Upper.size(); ++k) {
    if (kCp1251Upper[k] != 0 && kCp1251Upper[k] == cp) return static_cast<int>(0x80 + k);
  }
  return -1;
}
}  // namespace detail

// cp1251("Ошибка") gives the code page 1251 bytes of a UTF-8 literal.
template <std::size_t N>
consteval Cp1251Text<N> cp1251(const char (&utf8)[N]) {
  Cp1251Text<N> out{};
  std::size_t i = 0;
  while (i + 1 < N) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0;
    std::size_t extra = 0;
    if (lead < 0x80) {
      cp = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      cp = lead & 0x1F;
      extra = 1;
    } else if ((lead & 0xF0) == 0xE0) {
      cp = lead & 0x0F;
      extra = 2;
    } else {
      throw std::logic_error("unsupported UTF-8 sequence");
    }
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto cont = static_cast<unsigned char>(utf8[i + k]);
      if ((cont & 0xC0) != 0x80) throw std::logic_error("broken UTF-8 sequence");
      cp = (cp << 6) | (cont & 0x3F);
    }
    const int byte = detail::cp1251_byte_for(cp);
    if (byte < 0) throw std::logic_error("character outside code page 1251");
    out.bytes[out.size++] = static_cast<char>(byte);
    i += extra + 1;
  }
  return out;
}

// Code page 1251 bytes as UTF-8, for output that must be UTF-8 whatever the
// locale; the unassigned byte becomes U+FFFD.
// Appends one code point as UTF-8; a surrogate or one beyond Unicode as U+FFFD.
inline void append_utf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The code point of one byte; U+FFFD for the unassigned byte.
constexpr char32_t unicode_of_cp1251(unsigned char byte) {
  const char32_t cp = detail::cp1251_code_point(byte);
  return cp == 0 && byte != 0 ? 0xFFFD : cp;
}

inline std::string utf8_from_cp1251(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) append_utf8(out, unicode_of_cp1251(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace zarvo
