#include "sim/pty_simulator.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sim/frame_reader.h"
#include "tests/support/frames.h"
#include "tests/support/fresh_process.h"

namespace zarvo::sim {
namespace {

using std::chrono_literals::operator""ms;
using zarvo::testing::hex;

Options fast_options() {
  Options o;
  o.link.pacing = false;
  o.link.turnaround = 0ms;
  o.model.reaction = 0ms;
  o.model.flow_lpm = 600;
  return o;
}

// The host's end of the pseudo-terminal.
class Host {
 public:
  explicit Host(const std::string& path) : fd_(open(path.c_str(), O_RDWR | O_NOCTTY)) {
    EXPECT_GE(fd_.get(), 0);
    serial::make_raw(fd_.get(), 9600);
  }

  void send(const std::vector<std::uint8_t>& bytes) {
    ASSERT_EQ(write(fd_.get(), bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Every byte that arrives until the line has been quiet for `quiet`.
  std::vector<std::uint8_t> receive(Millis quiet = 150ms) {
    std::vector<std::uint8_t> bytes;
    for (;;) {
      pollfd p{fd_.get(), POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(quiet.count())) <= 0) return bytes;
      std::uint8_t chunk[256];
      const ssize_t n = read(fd_.get(), chunk, sizeof chunk);
      if (n <= 0) return bytes;
      bytes.insert(bytes.end(), chunk, chunk + n);
    }
  }

  // Exactly `count` bytes, or fewer if they do not come within a second.
  std::vector<std::uint8_t> receive_count(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    std::size_t got = 0;
    while (got < count) {
      pollfd p{fd_.get(), POLLIN, 0};
      if (poll(&p, 1, 1000) <= 0) break;
      const ssize_t n = read(fd_.get(), bytes.data() + got, count - got);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return bytes;
  }

  // Sends a request payload framed and returns the payload of the reply.
  std::vector<std::uint8_t> exchange(const std::vector<std::uint8_t>& payload) {
    send(zarvo::testing::FramedPayload(payload));
    return first_payload(receive());
  }

  static std::vector<std::uint8_t> first_payload(const std::vector<std::uint8_t>& bytes) {
    FrameReader reader;
    for (const auto b : bytes) reader.push(b);
    return reader.next(true).value_or(std::vector<std::uint8_t>{});
  }

 private:
  serial::UniqueFd fd_;
};

TEST(PtySimulator, answers_a_status_request_on_its_device) {
  PtySimulator sim(fast_options());
  Host host(sim.device_path());
  host.send(hex("16 16 01 02 4A 00 15 12"));
  EXPECT_EQ(host.receive(), hex("16 16 01 07 4A 31 31 30 30 30 30 B1 AE"));
  EXPECT_EQ(sim.error(), "");
}

TEST(PtySimulator, skips_noise_and_broken_frames_and_answers_the_next_request) {
  PtySimulator sim(fast_options());
  Host host(sim.device_path());
  host.send(hex("00 16 FF 16 16 02 02 4A 00 00 00"));  // noise, then a frame with a bad CRC
  EXPECT_TRUE(host.receive().empty());
  host.send(hex("16 16 01 01 35 2A 25"));
  EXPECT_EQ(host.receive(), reply_frame(1, 'Q', "0"));
}

TEST(PtySimulator, runs_a_whole_delivery_for_a_host_and_records_it) {
  PtySimulator sim(fast_options());
  Host host(sim.device_path());
  // 1.00 l on pump 2, nozzle 2, at 7.12.
  EXPECT_EQ(host.exchange(hex("02 13 39 32 56 30 30 30 31 30 30 34 30 36 35 30 35 30 37 31 32")),
            hex("02 02 51 30"));
  std::vector<std::uint8_t> reply;
  for (int polls = 0; polls < 50; ++polls) {
    reply = host.exchange(hex("02 02 4A 00"));
    if (reply.size() > 2 && reply[2] == 'a') break;
  }
  ASSERT_GT(reply.size(), 4U);
  ASSERT_EQ(reply[2], 'a');
  EXPECT_EQ(std::string(reply.begin() + 8, reply.end()), "   7.12   1.00");
  EXPECT_EQ(host.exchange({0x02, 0x03, 0x4C, reply[3], reply[4]}), hex("02 02 51 30"));
  const auto record = sim.simulator().transactions();
  ASSERT_EQ(record.size(), 1U);
  EXPECT_EQ(record[0].pump, 2);
  EXPECT_EQ(record[0].amount, 712);
  EXPECT_TRUE(record[0].acknowledged);
}

TEST(PtySimulator, nozzles_move_through_the_library_when_there_is_no_customer) {
  Options o = fast_options();
  o.model.auto_customer = false;
  PtySimulator sim(o);
  Host host(sim.device_path());
  ASSERT_TRUE(sim.simulator().lift(1, 2));
  EXPECT_EQ(host.exchange(hex("01 02 4A 00")), hex("01 07 4A 31 33 30 30 30 30"));
  ASSERT_TRUE(sim.simulator().hang_up(1));
  EXPECT_EQ(host.exchange(hex("01 02 4A 00")), hex("01 07 4A 31 31 30 30 30 30"));
}

TEST(PtySimulator, faults_drop_corrupt_and_precede_replies_with_noise) {
  const auto status = hex("16 16 01 02 4A 00 15 12");
  const auto good = hex("16 16 01 07 4A 31 31 30 30 30 30 B1 AE");
  {
    Options o = fast_options();
    o.faults.drop = 1.0;
    PtySimulator sim(o);
    Host host(sim.device_path());
    host.send(status);
    EXPECT_TRUE(host.receive().empty());
  }
  {
    Options o = fast_options();
    o.faults.corrupt = 1.0;
    PtySimulator sim(o);
    Host host(sim.device_path());
    host.send(status);
    const auto bytes = host.receive();
    EXPECT_EQ(bytes.size(), good.size());
    EXPECT_NE(bytes, good);
  }
  {
    Options o = fast_options();
    o.faults.noise = 1.0;
    PtySimulator sim(o);
    Host host(sim.device_path());
    host.send(status);
    const auto bytes = host.receive();
    ASSERT_GT(bytes.size(), good.size());
    EXPECT_TRUE(std::equal(good.rbegin(), good.rend(), bytes.rbegin()));
    EXPECT_NE(bytes[0], 0x16);
  }
}

TEST(PtySimulator, a_silent_dispenser_does_not_act_on_what_it_misses) {
  const auto set_price = hex("01 06 34 34 31 32 33 34");
  auto price_after = [&](double silent) {
    Options o = fast_options();
    o.faults.silent = silent;
    PtySimulator sim(o);
    Host host(sim.device_path());
    const bool answered = !host.exchange(set_price).empty();
    EXPECT_EQ(answered, silent == 0.0);
    return sim.simulator().inspect([](const Dispenser& d) { return d.price(1, 1); });
  };
  EXPECT_EQ(price_after(1.0), 650);
  EXPECT_EQ(price_after(0.0), 1234);
}

// The built-in simulator of the reference host: Ctrl-C goes to the host's
// thread that waits for it, never to the serving thread.
TEST(PtySimulator, its_serving_thread_leaves_the_process_signals_to_the_host) {
  zarvo::testing::InFreshProcess([] {
    PtySimulator sim(fast_options());
    EXPECT_TRUE(zarvo::testing::InterruptReachesABlockingThread());
  });
}

TEST(PtySimulator, a_paced_exchange_takes_at_least_the_time_of_both_frames_on_the_line) {
  Options o = fast_options();
  o.link.pacing = true;
  o.link.baud = 2400;  // 4.17 ms a byte
  PtySimulator sim(o);
  Host host(sim.device_path());
  const auto begin = Clock::now();
  host.send(hex("16 16 01 02 4A 00 15 12"));
  EXPECT_EQ(host.receive_count(13).size(), 13U);
  // The 8 request bytes cross first, then the 13 reply bytes, each reaching
  // the host when its stop bit ends: 21 byte times in all.
  EXPECT_GE(Clock::now() - begin, 87ms);
}

}  // namespace
}  // namespace zarvo::sim
