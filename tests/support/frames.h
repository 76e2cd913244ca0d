// Frames for tests, built with the driver's own encoder, and byte strings
// written as the documentation writes them: "16 16 01 01 35 2A 25".
// Header-only: the ABI tests and the Windows test host use it without the
// driver's libraries.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/wire.h"

namespace zarvo::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes hex(const std::string& text) {
  std::istringstream in(text);
  Bytes bytes;
  unsigned value = 0;
  while (in >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
  return bytes;
}

// SYN SYN, address, length, letter, data, CRC.
inline Bytes Frame(std::uint8_t address, std::uint8_t letter, const Bytes& data) {
  Bytes frame(data.size() + 1 + wire::kFrameOverhead);
  frame.resize(wire::encode_frame(frame, address, letter, data));
  return frame;
}

inline Bytes Frame(std::uint8_t address, std::uint8_t letter, std::string_view data) {
  return Frame(address, letter, Bytes(data.begin(), data.end()));
}

// A valid reply frame: SYN SYN, address, length, type letter, data, CRC.
inline Bytes ReplyFrame(std::uint8_t address, char type, std::string_view data) {
  return Frame(address, static_cast<std::uint8_t>(type), data);
}
inline Bytes ReplyFrame(std::uint8_t address, char type, const Bytes& data) {
  return Frame(address, static_cast<std::uint8_t>(type), data);
}

// A payload (address, length, letter, data) framed as it is.
inline Bytes FramedPayload(const Bytes& payload) {
  Bytes frame(payload.size() + wire::kFrame.address + wire::kCrcSize);
  frame.resize(wire::encode_payload(frame, payload));
  return frame;
}

// The payload of a frame: what lies between the SYNs and the CRC.
inline Bytes PayloadOf(const Bytes& frame) {
  if (frame.size() < wire::kFrame.address + wire::kCrcSize) return {};
  return Bytes(frame.begin() + wire::kFrame.address, frame.end() - wire::kCrcSize);
}

// Data of a delivery reply ("R" or "a"): transaction number high byte first,
// the state character, two unread bytes, then the 7-character amount and volume.
inline Bytes DeliveryData(std::uint16_t txn, char state, std::string_view amount,
                          std::string_view volume) {
  Bytes data = {static_cast<std::uint8_t>(txn >> 8), static_cast<std::uint8_t>(txn & 0xFF),
                static_cast<std::uint8_t>(state), ' ', ' '};
  data.insert(data.end(), amount.begin(), amount.end());
  data.insert(data.end(), volume.begin(), volume.end());
  return data;
}

}  // namespace zarvo::testing
