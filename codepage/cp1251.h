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
// Code points beyond U+007F that code page 1251 holds and the system uses.
constexpr int cp1251_byte_for(char32_t cp) {
  if (cp < 0x80) return static_cast<int>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<int>(cp - 0x0410 + 0xC0);
  switch (cp) {
    case 0x0401:
      return 0xA8;  // Ё
    case 0x0451:
      return 0xB8;  // ё
    case 0x2116:
      return 0xB9;  // №
    case 0x00AB:
      return 0xAB;  // «
    case 0x00BB:
      return 0xBB;  // »
    case 0x2014:
      return 0x97;  // —
    case 0x2013:
      return 0x96;  // –
    case 0x00B0:
      return 0xB0;  // °
    default:
      return -1;
  }
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

}  // namespace zarvo
