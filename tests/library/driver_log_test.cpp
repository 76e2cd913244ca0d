// The driver's own log as a station host meets it: turned on by the settings
// file, written while the host calls the table, and harmless when it cannot be.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "protocol/frame_text.h"
#include "tests/support/log_lines.h"
#include "tests/support/table_host.h"
#include "tests/support/unprivileged.h"

namespace zarvo {
namespace {

using testing::Bytes;
using testing::ReplyFrame;
using testing::TableHost;

std::string log_settings(const std::string& path) {
  return "[Zarvo]\r\nSDec=2\r\n[ZarvoLog]\r\nPath=" + path + "\r\n";
}

Bytes with_bad_crc(Bytes frame) {
  frame.back() ^= 0xFF;
  return frame;
}

Bytes cut(Bytes frame, std::size_t size) {
  frame.resize(size);
  return frame;
}

std::string hex(const Bytes& bytes) {
  return wire::hex_bytes(bytes);
}

// Replies the driver must not take, and why the log says it did not.
struct Refused {
  Bytes reply;
  std::string why;
};
const Refused kRefusals[] = {
    {with_bad_crc(ReplyFrame(1, 'J', "000300")), "bad CRC"},
    {ReplyFrame(3, 'J', "000300"), "from another pump than the one asked"},
    {cut(ReplyFrame(1, 'J', "000300"), 8), "incomplete"},
    {Bytes(6, 0x00), "no SYN"},
};

// A fuelling cycle, with every refused reply on the way; returns what the
// host saw: results, failures, frames and the tables.
std::string fuelling_cycle(TableHost& host) {
  std::string seen;
  const auto failure = [&](const testing::HostCall& call) {
    try {
      call(host.object, host.ops);
      seen += "returned;";
    } catch (const Exception& e) {
      seen += std::string(e.what()) + ";";
    }
  };
  // The pump's decimals and mono flag are written before its first price.
  for (int i = 0; i < 4; ++i) host.port.reply(ReplyFrame(1, 'Q', "0"));
  host.ops.SetPrice(host.object, 1, 1, 1, 0, 0, 50.0);
  failure([](auto* o, auto& ops) { ops.SetPrice(o, 1, 33, 1, 0, 0, 50.0); });
  host.port.reply(ReplyFrame(1, 'Q', "0"));
  host.ops.PresetAmount(host.object, 1, 1, 1, 0, 500.0);
  for (const Refused& refused : kRefusals) {
    host.port.reply(refused.reply);
    failure([](auto* o, auto& ops) { ops.ReadPumpState(o, 1, 1); });
  }
  host.port.reply(ReplyFrame(1, 'R', testing::DeliveryData(0x0777, '1', " 250.00", "   1.25")));
  seen += std::to_string(host.ops.ReadPumpState(host.object, 1, 1)) + ";";
  host.port.reply(ReplyFrame(1, 'a', testing::DeliveryData(0x0777, '0', " 500.00", "   2.50")));
  seen += std::to_string(host.ops.ReadPumpState(host.object, 1, 1)) + ";";
  // A port that cannot say whether it took the reply took none.
  host.port.throws_in = "GetRxState";
  host.port.reply(ReplyFrame(1, 'J', "000300"));
  seen += std::to_string(host.ops.ReadPumpState(host.object, 1, 1)) + ";";
  host.port.throws_in.clear();
  for (const Bytes& frame : host.port.frames) seen += hex(frame) + ";";
  return seen + testing::Snapshot(host.tables());
}

TEST(DriverLog, a_fuelling_cycle_is_logged_frame_by_frame_with_meanings_and_refusals) {
  testing::TempSettingsDir folder;
  const std::string path = folder.path() + "/driver.log";
  {
    TableHost host(log_settings(path));
    fuelling_cycle(host);
    host.ops.AddMenuItems(host.object, nullptr, nullptr);
  }

  const auto lines = testing::ReadLogLines(path);
  for (const std::string& line : lines) EXPECT_TRUE(testing::WellFormedLogLine(line)) << line;
  const std::string bad_crc = hex(kRefusals[0].reply);
  testing::ExpectInOrder(
      lines,
      {"driver object created",
       "settings loaded: SDec=2 PDec=2 MPTRK=0",
       "] write parameter 40 = 0x02, pump 1",
       "] write parameter 41 = 0x02, pump 1",
       "] write parameter 42 = 0x00, pump 1",
       "line 1 pump 1 sent [16 16 01 06 34 34 35 30 30 30 E5 D4] set prices, pump 1: 45000",
       "line 1 pump 1 received <16 16 01 02 51 30 AF 52> answer 0 (accepted), from pump 1; "
       "result 0, ",
       "line 1 pump 33 Exception handed to the host: "
       "\"Номер колонки выходит за допустимый диапозон\"",
       "] start, pump 1 nozzle 1, amount 050000, prices 45000",
       "answer 0 (accepted)",
       "] status request, pump 1",
       "line 1 pump 1 refused <" + bad_crc + ">: bad CRC",
       "line 1 pump 1 received <" + bad_crc + ">; result 5, ",
       "line 1 pump 1 ESerialIO handed to the host: \"Can't GetSost\"",
       "refused <" + hex(kRefusals[1].reply) + ">: from another pump than the one asked",
       "status 000300 (228 nozzle 4 lifted), from pump 3; result -1 (no reply from the pump asked)",
       "refused <" + hex(kRefusals[2].reply) + ">: incomplete",
       "refused <00>: no SYN",
       "refused <00 00 00>: no SYN",
       "; the check refused 6 replies",
       "fuelling, transaction 1911 state 1, amount 250.00 volume 1.25, from pump 1; result 0",
       "delivery ended, transaction 1911, amount 500.00 volume 2.50, from pump 1",
       "line 1 pump 1 sent [16 16 01 03 4C 07 77 6C C7] acknowledge transaction 1911, pump 1",
       "answer 0 (accepted)",
       "line 1 the port's GetRxState raised; absorbed",
       "menu entry \"Программирование параметров (Zarvo)\" not added",
       "driver object destroyed"});
}

// The log's file cannot be opened: the host sees exactly what it sees with no log.
TEST(DriverLog, a_log_that_cannot_be_written_changes_nothing_the_host_sees) {
  std::string unlogged;
  {
    TableHost host;
    unlogged = fuelling_cycle(host);
  }
  testing::TempSettingsDir folder;
  const std::string missing = folder.path() + "/missing/driver.log";
  const std::string read_only = folder.path() + "/read-only";
  std::filesystem::create_directory(read_only);
  ::chmod(read_only.c_str(), 0555);
  ::chmod(folder.path().c_str(), 0755);
  const struct {
    const char* what;
    std::string path;
  } cases[] = {
      {"its folder missing", missing},
      {"a folder in its place", folder.path()},
      {"its folder read-only", read_only + "/driver.log"},
  };
  for (const auto& c : cases) {
    const std::string skipped = testing::AsUnprivileged([&] {
      TableHost host(log_settings(c.path));
      EXPECT_EQ(fuelling_cycle(host), unlogged) << c.what;
    });
    if (!skipped.empty()) GTEST_SKIP() << skipped;
    EXPECT_FALSE(std::filesystem::is_regular_file(c.path)) << c.what;
  }

  // Tried again when the next object is created, while the first still logs.
  {
    TableHost first(log_settings(missing));
    std::filesystem::create_directory(folder.path() + "/missing");
    TableHost second(log_settings(missing));
  }
  testing::ExpectInOrder(
      testing::ReadLogLines(missing),
      {"driver object created", "driver object destroyed", "driver object destroyed"});
}

}  // namespace
}  // namespace zarvo
