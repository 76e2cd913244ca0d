#include "sim/frame_reader.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/support/frames.h"

namespace zarvo::sim {
namespace {

using zarvo::testing::hex;

std::vector<std::vector<std::uint8_t>> read_all(const std::vector<std::uint8_t>& bytes,
                                                bool then_idle = false) {
  FrameReader reader;
  std::vector<std::vector<std::uint8_t>> payloads;
  for (const auto b : bytes) {
    reader.push(b);
    while (auto p = reader.next()) payloads.push_back(*p);
  }
  if (then_idle) {
    while (auto p = reader.next(true)) payloads.push_back(*p);
  }
  return payloads;
}

TEST(FrameReader, reads_the_documented_request_frames) {
  const auto payloads =
      read_all(hex("16 16 01 01 35 2A 25  16 16 00 01 35 F6 7F "
                   "16 16 01 02 4A 00 15 12  16 16 01 03 4C 00 07 E3 F9"));
  ASSERT_EQ(payloads.size(), 4U);
  EXPECT_EQ(payloads[0], hex("01 01 35"));
  EXPECT_EQ(payloads[1], hex("00 01 35"));
  EXPECT_EQ(payloads[2], hex("01 02 4A 00"));
  EXPECT_EQ(payloads[3], hex("01 03 4C 00 07"));
}

TEST(FrameReader, skips_noise_and_a_stray_syn_before_a_frame) {
  FrameReader reader;
  for (const auto b : hex("00 FF 16 41 16 16 16 01 01 35 2A 25")) reader.push(b);
  EXPECT_EQ(reader.next(), hex("01 01 35"));
  EXPECT_EQ(reader.skipped(), 5U);
  EXPECT_FALSE(reader.holds_bytes());
}

TEST(FrameReader, a_frame_with_a_bad_crc_is_skipped_and_the_next_one_read) {
  const auto payloads = read_all(hex("16 16 01 01 35 2A 26  16 16 01 01 35 2A 25"));
  ASSERT_EQ(payloads.size(), 1U);
  EXPECT_EQ(payloads[0], hex("01 01 35"));
}

TEST(FrameReader, a_false_start_that_swallows_a_frame_gives_it_back_after_a_pause) {
  // Noise "16 16 05 40" announces 64 more bytes; the real frame sits inside them.
  const auto bytes = hex("16 16 05 40  16 16 01 01 35 2A 25");
  EXPECT_TRUE(read_all(bytes).empty());
  const auto payloads = read_all(bytes, true);
  ASSERT_EQ(payloads.size(), 1U);
  EXPECT_EQ(payloads[0], hex("01 01 35"));
}

TEST(FrameReader, a_frame_split_by_a_pause_is_dropped_and_the_next_read) {
  FrameReader reader;
  for (const auto b : hex("16 16 01 01 35")) reader.push(b);
  EXPECT_FALSE(reader.next(true));
  EXPECT_FALSE(reader.holds_bytes());
  for (const auto b : hex("2A 25 16 16 01 01 35 2A 25")) reader.push(b);
  EXPECT_EQ(reader.next(), hex("01 01 35"));
}

TEST(FrameReader, a_length_beyond_any_request_resynchronises_at_once) {
  const auto payloads = read_all(hex("16 16 01 FF  16 16 01 01 35 2A 25"));
  ASSERT_EQ(payloads.size(), 1U);
}

TEST(FrameReader, any_bytes_give_only_intact_frames_and_stay_bounded) {
  std::mt19937 random(11);
  FrameReader reader;
  for (int i = 0; i < 200000; ++i) {
    // Plenty of SYN bytes, so that false starts are common.
    reader.push(random() % 4 == 0 ? 0x16 : static_cast<std::uint8_t>(random()));
    ASSERT_LE(reader.buffered(), 255U);
    while (auto p = reader.next(random() % 64 == 0)) {
      ASSERT_GE(p->size(), 3U);
      ASSERT_EQ(p->at(1), p->size() - 2);
    }
  }
}

}  // namespace
}  // namespace zarvo::sim
