#include "sim/memory_line.h"

#include <gtest/gtest.h>

#include "tests/support/frames.h"

namespace zarvo::sim {
namespace {

using std::chrono_literals::operator""ms;
using testing::hex;

// Every byte that arrives at `end` until the line has been quiet for 150 ms.
std::vector<std::uint8_t> receive(MemoryLine::End& end) {
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[64];
  while (const auto n = end.read_some(chunk, Clock::now() + 150ms))
    bytes.insert(bytes.end(), chunk, chunk + n);
  return bytes;
}

TEST(MemoryLine, a_paced_status_exchange_keeps_the_line_time_of_both_frames) {
  Options o;
  o.link.baud = 2400;  // 4.17 ms a byte
  MemorySimulator sim(o);
  MemoryLine::End& host = sim.host_end();
  host.write_all(hex("FF 00"), std::nullopt);  // line noise, dropped by the purge
  host.purge_input();
  const auto begin = Clock::now();
  host.write_all(hex("16 16 01 02 4A 00 15 12"), std::nullopt);
  std::uint8_t first = 0;
  ASSERT_EQ(host.read_some({&first, 1}, Clock::now() + 1000ms), 1U);
  // The 8 request bytes cross, then the first reply byte: 9 byte times at least.
  EXPECT_GE(Clock::now() - begin, 37ms);
  auto reply = receive(host);
  reply.insert(reply.begin(), first);
  EXPECT_EQ(reply, hex("16 16 01 07 4A 31 31 30 30 30 30 B1 AE"));
  EXPECT_GE(Clock::now() - begin, 87ms);
  EXPECT_EQ(sim.error(), "");
}

TEST(MemoryLine, a_closed_line_ends_serving_and_reads_nothing_more) {
  MemoryLine line;
  Simulator simulator(Options{});
  ServingThread serving(simulator, line.first());
  line.second().close();
  for (int i = 0; i < 100 && !serving.ended(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(serving.ended());
  line.second().write_all(hex("16 16 01 02 4A 00 15 12"), std::nullopt);
  std::uint8_t byte = 0;
  EXPECT_THROW(line.second().read_some({&byte, 1}, Clock::now() + 50ms), serial::HungUp);
}

}  // namespace
}  // namespace zarvo::sim
