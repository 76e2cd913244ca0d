#include "protocol/frame.h"

#include <gtest/gtest.h>

#include <array>
#include <string_view>
#include <vector>

#include "protocol/crc.h"
#include "protocol/wire.h"

namespace zarvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes framed(const Bytes& payload) {
  TxFrame frame;
  BuildFrame(frame, payload);
  const auto sent = frame.sent();
  return Bytes(sent.begin(), sent.end());
}

TEST(Crc, the_crc_matches_the_catalogue_values) {
  EXPECT_EQ(crc_of({}), 0x0000);
  constexpr std::string_view kCheck = "123456789";
  const Bytes digits(kCheck.begin(), kCheck.end());
  EXPECT_EQ(crc_of(digits), 0x2189);
}

TEST(Crc, the_crc_table_agrees_with_the_bitwise_rounds_for_every_byte_and_start) {
  for (unsigned start : {0x0000U, 0x1234U, 0xFFFFU, 0x8408U}) {
    for (unsigned b = 0; b < 256; ++b) {
      std::uint16_t crc = static_cast<std::uint16_t>(start);
      CrcUpdate(static_cast<std::uint8_t>(b), crc);
      EXPECT_EQ(crc, detail::crc_fold_bitwise(static_cast<std::uint8_t>(b),
                                              static_cast<std::uint16_t>(start)));
    }
  }
}

TEST(BuildFrame, the_worked_frame_examples_come_out_byte_for_byte) {
  EXPECT_EQ(framed({0x01, 0x01, 0x35}), (Bytes{0x16, 0x16, 0x01, 0x01, 0x35, 0x2A, 0x25}));
  EXPECT_EQ(framed({0x00, 0x01, 0x35}), (Bytes{0x16, 0x16, 0x00, 0x01, 0x35, 0xF6, 0x7F}));
  EXPECT_EQ(framed({0x01, 0x02, 0x4A, 0x00}),
            (Bytes{0x16, 0x16, 0x01, 0x02, 0x4A, 0x00, 0x15, 0x12}));
  EXPECT_EQ(framed({0x01, 0x03, 0x4C, 0x00, 0x07}),
            (Bytes{0x16, 0x16, 0x01, 0x03, 0x4C, 0x00, 0x07, 0xE3, 0xF9}));
}

TEST(BuildFrame, the_fill_byte_is_stored_after_the_frame_without_counting_it) {
  TxFrame frame;
  BuildFrame(frame, Bytes{0x01, 0x01, 0x35});
  EXPECT_EQ(frame.TxLen, 7);
  EXPECT_EQ(frame.TxBuf[7], 0xFF);
}

TEST(BuildFrame, the_count_not_the_length_byte_decides_what_is_framed) {
  const Bytes payload = {0x01, 0x09, 0x35, 0x41};
  const Bytes frame = framed(payload);
  ASSERT_EQ(frame.size(), 8U);
  const std::uint16_t crc = crc_of(payload);
  EXPECT_EQ(frame[6], crc & 0xFF);
  EXPECT_EQ(frame[7], crc >> 8);
}

TEST(BuildFrame, the_largest_payload_fills_the_buffer_and_larger_ones_are_refused) {
  TxFrame frame;
  const Bytes largest(250, 0x33);
  BuildFrame(frame, largest);
  EXPECT_EQ(frame.TxLen, 254);
  EXPECT_EQ(frame.TxBuf[254], 0xFF);
  EXPECT_THROW(BuildFrame(frame, Bytes(251, 0x33)), std::length_error);
  EXPECT_THROW(BuildFrame(frame, Bytes{}), std::length_error);
}

TEST(BuildFrame, the_encoder_frames_letter_and_data_and_refuses_a_buffer_too_small) {
  std::array<std::uint8_t, 8> out{};
  const Bytes data{'0'};
  ASSERT_EQ(wire::encode_frame(out, 1, wire::kAnswer, data), 8U);
  EXPECT_EQ(Bytes(out.begin(), out.end()), (Bytes{0x16, 0x16, 0x01, 0x02, 0x51, 0x30, 0xAF, 0x52}));
  out.fill(0);
  EXPECT_EQ(wire::encode_frame(std::span(out).first(7), 1, wire::kAnswer, data), 0U);
  EXPECT_EQ(wire::encode_payload(std::span(out).first(7), Bytes{1, 2, 'J', 0}), 0U);
  EXPECT_EQ(out, (std::array<std::uint8_t, 8>{}));
}

}  // namespace
}  // namespace zarvo
