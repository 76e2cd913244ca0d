#include "host/frame_text.h"

#include <cstdio>
#include <string_view>

namespace zarvo::host {

namespace {

// Frame positions: SYN SYN, address, length, letter, data.
constexpr std::size_t kAddress = 2;
constexpr std::size_t kLetter = 4;
constexpr std::size_t kData = 5;

// The characters at [pos, pos + len) of the frame, or "" when the frame is shorter.
std::string field(std::span<const std::uint8_t> frame, std::size_t pos, std::size_t len) {
  if (pos + len > frame.size()) return {};
  std::string text;
  for (const std::uint8_t b : frame.subspan(pos, len)) {
    text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
  }
  return text;
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::string pump_text(std::span<const std::uint8_t> frame) {
  return frame[kAddress] == 0 ? std::string("all pumps")
                              : "pump " + std::to_string(frame[kAddress]);
}

std::string number16(std::span<const std::uint8_t> frame, std::size_t pos) {
  if (pos + 2 > frame.size()) return "?";
  return std::to_string(frame[pos] * 256 + frame[pos + 1]);
}

std::string price_entries(std::span<const std::uint8_t> frame, std::size_t pos) {
  std::string text;
  // The data ends two bytes before the frame does (the CRC).
  for (; pos + 5 + 2 <= frame.size(); pos += 5) {
    if (!text.empty()) text += ' ';
    text += field(frame, pos, 5);
  }
  return text;
}

std::string status_meaning(std::string_view status) {
  for (std::size_t k = 0; k < status.size(); ++k) {
    const std::string nozzle = "nozzle " + std::to_string(k + 1);
    switch (status[k]) {
      case '0':
        continue;
      case '1':
        return "idle";
      case '3':
        return nozzle + " lifted";
      case '4':
        return nozzle + " lifted and authorized";
      case '5':
        return nozzle + " authorized";
      case 'A':
      case 'B':
        return "transaction ended";
      case 'C':
        return "fault";
      default:
        return std::string("status ") + status[k];
    }
  }
  return "no news";
}

}  // namespace

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  char cell[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(cell, sizeof cell, text.empty() ? "%02X" : " %02X", b);
    text += cell;
  }
  return text;
}

std::string describe_request(std::span<const std::uint8_t> frame) {
  if (frame.size() < kData + 2) return "short frame";
  const std::string pump = pump_text(frame);
  switch (frame[kLetter]) {
    case 'J':
      return "status request, " + pump;
    case 'B':
      return "totals request, " + pump + " nozzle " + field(frame, kData, 1);
    case '5':
      return "stop, " + pump;
    case '3':
      return "read parameter " + field(frame, kData, 2) + ", " + pump;
    case '2':
      return "write parameter " + field(frame, kData, 2) + " = 0x" + field(frame, kData + 2, 2) +
             ", " + pump;
    case '4':
      return "set prices, " + pump + ": " + price_entries(frame, kData);
    case '9': {
      const std::string kind = field(frame, kData + 1, 1) == "V" ? "volume" : "amount";
      return "start, " + pump + " nozzle " + field(frame, kData, 1) + ", " + kind + " " +
             field(frame, kData + 2, 6) + ", prices " + price_entries(frame, kData + 8);
    }
    case '1':
      return "mono-product start, " + pump + " nozzle " + field(frame, kData, 1) + ", amount " +
             field(frame, kData + 2, 4) + " volume " + field(frame, kData + 6, 4) + ", price " +
             field(frame, kData + 10, 5);
    case 'L':
      return "acknowledge transaction " + number16(frame, kData) + ", " + pump;
    default:
      return std::string("command ") + field(frame, kLetter, 1) + ", " + pump;
  }
}

std::string describe_reply(std::span<const std::uint8_t> frame) {
  if (frame.size() < kData + 2) return "short frame";
  const std::string from = "from pump " + std::to_string(frame[kAddress]);
  switch (frame[kLetter]) {
    case 'J': {
      const std::string status = field(frame, kData, 6);
      return "status " + status + " (" + status_meaning(status) + "), " + from;
    }
    case 'Q': {
      const std::string digit = field(frame, kData, 1);
      const std::string meaning =
          digit == "0" ? " (accepted)" : (digit == "1" ? " (refused)" : std::string());
      return "answer " + digit + meaning + ", " + from;
    }
    case 'R':
      return "fuelling, transaction " + number16(frame, kData) + " state " +
             field(frame, kData + 2, 1) + ", amount " + trimmed(field(frame, 10, 7)) + " volume " +
             trimmed(field(frame, 17, 7)) + ", " + from;
    case 'a':
      return "delivery ended, transaction " + number16(frame, kData) + ", amount " +
             trimmed(field(frame, 10, 7)) + " volume " + trimmed(field(frame, 17, 7)) + ", " + from;
    case 'B':
      return "totals, volume " + trimmed(field(frame, 6, 13)) + " amount " +
             trimmed(field(frame, 19, 13)) + ", " + from;
    case '3':
      return "parameter " + field(frame, kData, 2) + " = 0x" + field(frame, kData + 2, 2) + ", " +
             from;
    default:
      return std::string("reply ") + field(frame, kLetter, 1) + ", " + from;
  }
}

}  // namespace zarvo::host
