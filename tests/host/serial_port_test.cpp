#include "host/port/serial_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "protocol/crc.h"
#include "pty_peer.h"

namespace zarvo::host {
namespace {

using testing::Bytes;
using testing::PtyPeer;
using testing::reply_frame;
using namespace std::chrono_literals;

// The status request for pump 1, as the driver frames it.
const Bytes kStatusRequest{0x16, 0x16, 0x01, 0x02, 0x4A, 0x00, 0x15, 0x12};
// The status reply of pump 1 with nozzle 4 lifted.
const Bytes kStatusReply{0x16, 0x16, 0x01, 0x07, 0x4A, 0x30, 0x30,
                         0x30, 0x33, 0x30, 0x30, 0xBA, 0x4E};

// A reply check that judges like the driver's and records every count it saw.
struct RecordingCheck {
  zarvo_port* port = nullptr;
  std::vector<int> counts;

  static uint32_t ZARVO_STDCALL check(void* context, uint32_t line, const uint8_t* rx, uint32_t,
                                      const uint8_t* stored, uint32_t) {
    auto& self = *static_cast<RecordingCheck*>(context);
    self.counts.push_back(*stored);
    const auto& ops = *self.port->ops;
    if (rx[0] != 0x16 && rx[1] != 0x16) {
      ops.SetReplyCode(self.port, line, 223);
      return 0;
    }
    const unsigned n = rx[3];
    if (n + 5 > *stored) {
      ops.SetRxState(self.port, line, 3);
      ops.SetReplyCode(self.port, line, 246);
      return 0;
    }
    const std::uint16_t crc = crc_of(std::span(rx + 2, n + 2));
    if (rx[n + 4] == (crc & 0xFF) && rx[n + 5] == (crc >> 8)) {
      ops.SetRxState(self.port, line, 1);
      ops.SetReplyCode(self.port, line, 0);
      return 1;
    }
    ops.SetReplyCode(self.port, line, 222);
    return 0;
  }
};

class PortOverPty : public ::testing::Test {
 protected:
  explicit PortOverPty(PortTimeouts timeouts = {10s, 10s}) : port_(timeouts) {
    port_.bind(1, peer_.device());
    check_.port = port_.port();
  }

  // One exchange through the port's table, as the driver makes it.
  std::int32_t exchange(std::span<std::uint8_t> rx, const Bytes& request = kStatusRequest) {
    zarvo_port* port = port_.port();
    port->ops->SetReplyCheck(port, 1, &RecordingCheck::check, &check_);
    return port->ops->SendAndReceive(port, 1, request.data(),
                                     static_cast<std::uint32_t>(request.size()), rx.data(), 42, 22);
  }

  PtyPeer peer_;
  SerialPort port_;
  RecordingCheck check_;
  std::array<std::uint8_t, 255> rx_{};
};

class SilentPeer : public PortOverPty {
 protected:
  SilentPeer() : PortOverPty({80ms, 40ms}) {}
};

TEST_F(PortOverPty, a_reply_is_accepted_the_moment_its_last_byte_arrives) {
  peer_.answer(kStatusReply);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(exchange(rx_), 0);
  // The timeouts are ten seconds: waiting for one would show here.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_TRUE(std::equal(kStatusReply.begin(), kStatusReply.end(), rx_.begin()));
  EXPECT_EQ(port_.GetRxState(1), 1);
  EXPECT_EQ(port_.GetLineResult(1), 0);
  EXPECT_THAT(peer_.requests(), ::testing::ElementsAre(kStatusRequest));
}

TEST_F(PortOverPty, the_check_is_asked_after_every_stored_byte_with_the_index_of_the_last) {
  peer_.answer(kStatusReply);
  ASSERT_EQ(exchange(rx_), 0);
  std::vector<int> expected(kStatusReply.size());
  for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<int>(i);
  EXPECT_EQ(check_.counts, expected);
}

TEST_F(PortOverPty, noise_before_a_reply_is_skipped) {
  Bytes noisy{0x00, 0xFF, 0x41, 0x0D};
  noisy.insert(noisy.end(), kStatusReply.begin(), kStatusReply.end());
  peer_.answer(noisy);
  std::size_t skipped = 0;
  port_.set_observer([&](const ExchangeRecord& record) { skipped = record.skipped; });
  ASSERT_EQ(exchange(rx_), 0);
  EXPECT_TRUE(std::equal(kStatusReply.begin(), kStatusReply.end(), rx_.begin()));
  EXPECT_EQ(skipped, 4U);
}

TEST_F(PortOverPty, a_late_reply_from_another_pump_is_passed_over_for_the_real_one) {
  Bytes both = reply_frame(2, 'a',
                           "\x00\x07"
                           "010   5.00   1.00");
  both.insert(both.end(), kStatusReply.begin(), kStatusReply.end());
  peer_.answer(both);
  std::size_t strays = 0;
  port_.set_observer([&](const ExchangeRecord& record) { strays = record.strays; });
  ASSERT_EQ(exchange(rx_), 0);
  EXPECT_TRUE(std::equal(kStatusReply.begin(), kStatusReply.end(), rx_.begin()));
  EXPECT_EQ(strays, 1U);
  // A request to every pump is answered by any of them.
  const Bytes stop_all = reply_frame(0, '5', std::string(1, '\0'));
  peer_.answer(reply_frame(1, 'Q', "0"));
  EXPECT_EQ(exchange(rx_, stop_all), 0);
}

TEST_F(SilentPeer, only_another_pumps_reply_is_no_reply_and_leaves_nothing_to_decode) {
  peer_.answer(reply_frame(3, 'J', "111000"));
  EXPECT_EQ(exchange(rx_), static_cast<std::int32_t>(PortResult::kTimeout));
  EXPECT_EQ(port_.GetRxState(1), 0);
  EXPECT_EQ(port_.last_error(1), peer_.device() + ": no reply, only another pump's");
  EXPECT_TRUE(std::ranges::all_of(rx_, [](std::uint8_t b) { return b == 0; }));
}

TEST_F(PortOverPty, a_corrupted_reply_fails_at_once_and_leaves_nothing_to_decode) {
  Bytes corrupted = kStatusReply;
  corrupted[8] = '4';  // the CRC no longer matches
  peer_.answer(corrupted);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(exchange(rx_), static_cast<std::int32_t>(PortResult::kCheckFailed));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(port_.GetLineResult(1), static_cast<std::int32_t>(PortResult::kCheckFailed));
  EXPECT_TRUE(std::ranges::all_of(rx_, [](std::uint8_t b) { return b == 0; }));
}

TEST_F(PortOverPty, the_largest_reply_that_fits_the_buffer_is_accepted) {
  const Bytes largest = reply_frame(1, 'R', std::string(248, '7'));
  ASSERT_EQ(largest.size(), 255U);
  peer_.answer(largest);
  EXPECT_EQ(exchange(rx_), 0);
  EXPECT_TRUE(std::ranges::equal(largest, rx_));
}

// Bytes that are already waiting are never late, however long the thread
// took to come back for them: with no time allowed between reply bytes, the
// reply must still be taken in one piece after another.
class NoWaitBetweenBytes : public PortOverPty {
 protected:
  NoWaitBetweenBytes() : PortOverPty({10s, 0ms}) {}
};

TEST_F(NoWaitBetweenBytes, a_reply_waiting_on_the_line_is_taken_after_its_wait_ran_out) {
  const Bytes largest = reply_frame(1, 'R', std::string(248, '7'));
  peer_.answer(largest);
  EXPECT_EQ(exchange(rx_), 0) << port_.last_error(1);
  EXPECT_TRUE(std::ranges::equal(largest, rx_));
}

TEST_F(SilentPeer, a_reply_longer_than_the_buffer_is_never_written_past_255_bytes) {
  // Length byte 250 calls for 256 bytes; the peer sends 300.
  Bytes endless{0x16, 0x16, 0x01, 250};
  endless.resize(300, '9');
  peer_.answer(endless);
  std::array<std::uint8_t, 300> guarded{};
  guarded.fill(0xAA);
  EXPECT_EQ(exchange(guarded), static_cast<std::int32_t>(PortResult::kIncomplete));
  EXPECT_TRUE(std::all_of(guarded.begin() + 255, guarded.end(), [](auto b) { return b == 0xAA; }));
  EXPECT_LE(*std::ranges::max_element(check_.counts), 254);
}

TEST_F(SilentPeer, a_silent_peer_gives_the_timeout_result) {
  EXPECT_EQ(exchange(rx_), static_cast<std::int32_t>(PortResult::kTimeout));
  EXPECT_EQ(port_.GetLineResult(1), static_cast<std::int32_t>(PortResult::kTimeout));
  EXPECT_TRUE(check_.counts.empty());
}

TEST_F(SilentPeer, a_reply_that_stops_midway_gives_the_incomplete_result) {
  peer_.answer(Bytes(kStatusReply.begin(), kStatusReply.begin() + 7));
  EXPECT_EQ(exchange(rx_), static_cast<std::int32_t>(PortResult::kIncomplete));
  EXPECT_NE(port_.GetRxState(1), 1);
  EXPECT_TRUE(std::ranges::all_of(rx_, [](std::uint8_t b) { return b == 0; }));
}

TEST_F(SilentPeer, a_late_reply_is_not_taken_for_the_answer_to_the_next_request) {
  const Bytes late = reply_frame(1, 'Q', "1");
  peer_.answer(late, 150ms);
  peer_.answer(kStatusReply);
  EXPECT_EQ(exchange(rx_), static_cast<std::int32_t>(PortResult::kTimeout));
  ASSERT_TRUE(peer_.wait_for_answers(1));
  EXPECT_EQ(exchange(rx_), 0);
  EXPECT_TRUE(std::equal(kStatusReply.begin(), kStatusReply.end(), rx_.begin()));
}

TEST_F(PortOverPty, every_exchange_is_shown_to_the_observer) {
  peer_.answer(kStatusReply);
  std::vector<ExchangeRecord> seen;
  Bytes sent, received;
  port_.set_observer([&](const ExchangeRecord& record) {
    seen.push_back(record);
    sent.assign(record.sent.begin(), record.sent.end());
    received.assign(record.received.begin(), record.received.end());
  });
  ASSERT_EQ(exchange(rx_), 0);
  ASSERT_EQ(seen.size(), 1U);
  EXPECT_EQ(seen[0].line, 1U);
  EXPECT_EQ(seen[0].result, PortResult::kOk);
  EXPECT_EQ(sent, kStatusRequest);
  EXPECT_EQ(received, kStatusReply);
}

TEST_F(PortOverPty, a_request_the_send_gate_refuses_never_reaches_the_line) {
  bool transmitted = true;
  port_.set_observer([&](const ExchangeRecord& record) { transmitted = record.transmitted; });
  port_.set_send_gate([](std::uint32_t, std::span<const std::uint8_t>) {
    throw std::runtime_error("cannot write the journal");
  });
  EXPECT_EQ(exchange(rx_), static_cast<std::int32_t>(PortResult::kIoError));
  EXPECT_FALSE(transmitted);
  EXPECT_THAT(port_.last_error(1), ::testing::HasSubstr("cannot write the journal"));
  port_.set_send_gate(nullptr);
  peer_.answer(kStatusReply);
  ASSERT_EQ(exchange(rx_), 0);
  EXPECT_THAT(peer_.requests(), ::testing::ElementsAre(kStatusRequest));
}

TEST_F(PortOverPty, configuring_a_line_opens_it_with_the_drivers_settings_only) {
  zarvo_port* port = port_.port();
  EXPECT_EQ(port->ops->ConfigureLine(port, 1, 3, 9600), 0);
  EXPECT_EQ(port->ops->ConfigureLine(port, 1, 3, 12345),
            static_cast<std::int32_t>(PortResult::kBadSettings));
  EXPECT_EQ(port->ops->ConfigureLine(port, 1, 7, 9600),
            static_cast<std::int32_t>(PortResult::kBadSettings));
  EXPECT_EQ(port->ops->GetLineResult(port, 1), static_cast<std::int32_t>(PortResult::kBadSettings));
  EXPECT_EQ(port->ops->ConfigureLine(port, 2, 3, 9600),
            static_cast<std::int32_t>(PortResult::kNoDevice));
  EXPECT_EQ(port->ops->ConfigureLine(port, 41, 3, 9600),
            static_cast<std::int32_t>(PortResult::kNoDevice));
  // Configured again, the line still carries exchanges.
  EXPECT_EQ(port->ops->ConfigureLine(port, 1, 3, 19200), 0);
  peer_.answer(kStatusReply);
  EXPECT_EQ(exchange(rx_), 0);
}

// A line of this process whose other end has gone.
class HungUpDevice final : public serial::ByteStream {
  std::size_t do_read_some(std::span<std::uint8_t>, std::optional<serial::Clock::time_point>,
                           const serial::StopSignal*) override {
    throw serial::HungUp("the line hung up");
  }
  bool do_write_all(std::span<const std::uint8_t>, std::optional<serial::Clock::time_point>,
                    const serial::StopSignal*) override {
    return true;
  }
  void do_purge_input() override {}
};

TEST(SerialPort, a_device_that_is_missing_no_terminal_or_hung_up_gives_the_io_error_result) {
  SerialPort port;
  port.bind(1, "/nonexistent/ttyZ0");
  port.bind(2, "/dev/null");
  std::uint32_t opened_at = 0;
  int opens = 0;
  port.bind(3, "in-process line", [&opened_at, &opens](std::uint32_t baud) {
    opened_at = baud;
    ++opens;
    return std::make_unique<HungUpDevice>();
  });
  EXPECT_EQ(port.ConfigureLine(1, 3, 9600), static_cast<std::int32_t>(PortResult::kIoError));
  EXPECT_THAT(port.last_error(1), ::testing::HasSubstr("/nonexistent/ttyZ0"));
  std::array<std::uint8_t, 255> rx{};
  EXPECT_EQ(port.SendAndReceive(2, kStatusRequest.data(), 8, rx.data()),
            static_cast<std::int32_t>(PortResult::kIoError));
  EXPECT_THAT(port.last_error(2), ::testing::HasSubstr("not a serial device"));
  EXPECT_EQ(port.ConfigureLine(3, 3, 19200), 0);
  EXPECT_EQ(opened_at, 19200U);
  EXPECT_EQ(port.SendAndReceive(3, kStatusRequest.data(), 8, rx.data()),
            static_cast<std::int32_t>(PortResult::kIoError));
  EXPECT_EQ(port.last_error(3), "in-process line: the line hung up");
  // A line that hung up is closed and opened again at once; failing again,
  // it waits out a back-off instead of being opened in a loop.
  EXPECT_FALSE(port.is_open(3));
  EXPECT_EQ(port.SendAndReceive(3, kStatusRequest.data(), 8, rx.data()),
            static_cast<std::int32_t>(PortResult::kIoError));
  EXPECT_EQ(opens, 2);
  EXPECT_GT(port.reopen_at(3), std::chrono::steady_clock::now());
  EXPECT_EQ(port.SendAndReceive(3, kStatusRequest.data(), 8, rx.data()),
            static_cast<std::int32_t>(PortResult::kIoError));
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(port.last_error(3), "in-process line: the line hung up; trying again shortly");
}

TEST_F(PortOverPty, a_line_is_held_by_one_port_and_released_whole_when_it_closes) {
  const auto exclusive = [this] {
    const int fd = ::open(peer_.device().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int flag = 0;
    ::ioctl(fd, TIOCGEXCL, &flag);
    ::close(fd);
    return flag != 0;
  };
  ASSERT_EQ(port_.ConfigureLine(1, 3, 9600), 0);
  EXPECT_TRUE(exclusive());
  // Another port, as another process would be, is refused even as root.
  auto other = std::make_unique<SerialPort>();
  other->bind(1, peer_.device());
  EXPECT_EQ(other->ConfigureLine(1, 3, 9600), static_cast<std::int32_t>(PortResult::kIoError));
  EXPECT_TRUE(other->held_elsewhere(1));
  EXPECT_THAT(other->last_error(1), ::testing::HasSubstr("in use by another process"));
  // Closed, the line is free again, for others as well.
  port_.bind(1, peer_.device());
  EXPECT_FALSE(exclusive());
  EXPECT_EQ(other->ConfigureLine(1, 3, 9600), 0);
  EXPECT_FALSE(other->held_elsewhere(1));
}

TEST(SerialPort, an_unbound_line_gives_the_no_device_result) {
  SerialPort port;
  std::array<std::uint8_t, 255> rx{};
  EXPECT_EQ(port.SendAndReceive(3, kStatusRequest.data(), 8, rx.data()),
            static_cast<std::int32_t>(PortResult::kNoDevice));
  EXPECT_EQ(port.GetLineResult(3), static_cast<std::int32_t>(PortResult::kNoDevice));
  EXPECT_EQ(port.GetLineResult(0), static_cast<std::int32_t>(PortResult::kNoDevice));
}

TEST(SerialPort, lines_outside_1_to_40_and_shared_devices_cannot_be_bound) {
  SerialPort port;
  EXPECT_THROW(port.bind(0, "/dev/ttyS0"), std::invalid_argument);
  EXPECT_THROW(port.bind(41, "/dev/ttyS0"), std::invalid_argument);
  port.bind(40, "/dev/ttyS0");
  for (const char* same : {"/dev/ttyS0", "/dev//ttyS0", "/dev/../dev/ttyS0"}) {
    EXPECT_THROW(port.bind(1, same), std::invalid_argument) << same;
  }
  EXPECT_TRUE(port.bound(40));
}

TEST(SerialPort, reception_state_and_reply_code_are_kept_per_line) {
  SerialPort port;
  zarvo_port* handle = port.port();
  handle->ops->SetRxState(handle, 5, 7);
  handle->ops->SetRxState(handle, 6, 1);
  EXPECT_EQ(handle->ops->GetRxState(handle, 5), 7);
  EXPECT_EQ(handle->ops->GetRxState(handle, 6), 1);
  EXPECT_EQ(handle->ops->GetRxState(handle, 99), 0);
}

TEST(SerialPort, lines_exchange_at_the_same_time_each_with_its_own_replies_and_check) {
  constexpr std::uint32_t kLines = 4;
  constexpr int kExchanges = 25;
  std::array<PtyPeer, kLines> peers;
  std::array<RecordingCheck, kLines> checks;
  SerialPort port({10s, 10s});
  int observed = 0;  // the port calls its observer one exchange at a time
  port.set_observer([&observed](const ExchangeRecord&) { ++observed; });
  // Line n's k-th reply carries n and k, so a reply on the wrong line shows.
  auto reply_for = [](std::uint32_t line, int k) {
    return reply_frame(
        1, 'J', std::string(5, static_cast<char>('0' + k % 10)) + static_cast<char>('0' + line));
  };
  for (std::uint32_t line = 1; line <= kLines; ++line) {
    port.bind(line, peers[line - 1].device());
    checks[line - 1].port = port.port();
    for (int k = 0; k < kExchanges; ++k) peers[line - 1].answer(reply_for(line, k));
  }
  std::array<int, kLines> matched{};
  {
    std::vector<std::jthread> threads;
    for (std::uint32_t line = 1; line <= kLines; ++line) {
      threads.emplace_back([&, line] {
        zarvo_port* handle = port.port();
        std::array<std::uint8_t, 255> rx{};
        for (int k = 0; k < kExchanges; ++k) {
          handle->ops->SetReplyCheck(handle, line, &RecordingCheck::check, &checks[line - 1]);
          const Bytes expected = reply_for(line, k);
          if (handle->ops->SendAndReceive(handle, line, kStatusRequest.data(), 8, rx.data(), 42,
                                          22) == 0 &&
              std::equal(expected.begin(), expected.end(), rx.begin())) {
            ++matched[line - 1];
          }
        }
      });
    }
  }
  for (std::uint32_t line = 1; line <= kLines; ++line) {
    EXPECT_EQ(matched[line - 1], kExchanges) << "line " << line;
    EXPECT_EQ(checks[line - 1].counts.size(), kExchanges * kStatusReply.size()) << "line " << line;
  }
  EXPECT_EQ(observed, static_cast<int>(kLines) * kExchanges);
}

}  // namespace
}  // namespace zarvo::host
