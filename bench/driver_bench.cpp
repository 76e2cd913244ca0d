// The driver's own cost per exchange next to the time the same bytes spend on
// the wire at 9600 baud, with its log off and on. Run: build/bench/driver_bench
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "driver/tvm30.h"
#include "protocol/crc.h"
#include "protocol/exchange.h"
#include "protocol/frame.h"
#include "protocol/wire.h"
#include "tests/support/direct_calls.h"
#include "tests/support/frames.h"
#include "tests/support/port_adapter.h"

namespace {

// The calling thread's own: the log's writer thread allocates as it formats.
thread_local long allocations = 0;

}  // namespace

// Counts every heap allocation of the thread: the exchange path must make none.
void* operator new(std::size_t size) {
  ++allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}

namespace {

using zarvo::testing::Bytes;
using zarvo::testing::ReplyFrame;
constexpr double kBaud = 9600;
constexpr double kBitsPerByte = 10;  // start, eight data bits, stop

// A port that answers every request from memory, byte by byte under the check:
// what a real port does, without the wire.
struct MemoryPort {
  const Bytes* reply = nullptr;
  const Bytes* ack_reply = nullptr;
  zarvo_reply_check check = nullptr;
  void* context = nullptr;
  std::int32_t rx_state = 0;
  std::size_t wire_bytes = 0;  // both directions, for the wire time

  std::int32_t GetLineResult(std::uint32_t) { return 1; }
  void SetReplyCode(std::uint32_t, std::uint32_t) {}
  void SetRxState(std::uint32_t, std::uint32_t state) {
    rx_state = static_cast<std::int32_t>(state);
  }
  std::int32_t GetRxState(std::uint32_t) { return rx_state; }
  std::int32_t ConfigureLine(std::uint32_t, std::uint32_t, std::uint32_t) { return 0; }
  void SetReplyCheck(std::uint32_t, zarvo_reply_check c, void* x) {
    check = c;
    context = x;
  }
  std::int32_t SendAndReceive(std::uint32_t line, const std::uint8_t* tx, std::uint32_t len,
                              std::uint8_t* rx, std::uint32_t, std::uint32_t) {
    const Bytes& answer = (len > zarvo::wire::kFrame.letter &&
                           tx[zarvo::wire::kFrame.letter] == zarvo::wire::kAcknowledge)
                              ? *ack_reply
                              : *reply;
    wire_bytes += len + answer.size();
    return zarvo::testing::StoreUnderCheck(answer, rx, check, context, line) ? 0 : 1;
  }
};

// The settings folder of a station's driver: its own, with the log's section or without.
class SettingsFolder {
 public:
  explicit SettingsFolder(bool logging) {
    std::string pattern = (std::filesystem::temp_directory_path() / "zarvo-bench-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
    ::setenv("ZARVO_WINDIR", path_.c_str(), 1);
    if (logging) {
      std::ofstream(path_ + "/cnf.INI") << "[ZarvoLog]\nPath=driver.log\nMaxSizeKB=1048576\n";
    }
  }
  SettingsFolder(const SettingsFolder&) = delete;
  SettingsFolder& operator=(const SettingsFolder&) = delete;
  ~SettingsFolder() { std::filesystem::remove_all(path_); }
  std::string log() const { return path_ + "/driver.log"; }

 private:
  std::string path_;
};

struct Station {
  MemoryPort port;
  zarvo::testing::PortAdapter<MemoryPort> adapter{port};
  zarvo::TVM30 driver{adapter.port(), {&zarvo::testing::CheckWithDriver, &driver}};
};

double thread_cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs body once per iteration and reports its processor time as a share of
// the wire time of the bytes it moved, and the heap allocations one run makes.
template <class Body>
void measure(benchmark::State& state, Station& station, Body body) {
  constexpr int kCountedRuns = 1000;
  const long allocations_before = allocations;
  for (int i = 0; i < kCountedRuns; ++i) body();
  state.counters["allocs"] = static_cast<double>(allocations - allocations_before) / kCountedRuns;

  station.port.wire_bytes = 0;
  const double start = thread_cpu_seconds();
  for (auto _ : state) body();
  const double cpu = thread_cpu_seconds() - start;
  const auto iterations = static_cast<double>(state.iterations());
  const double wire_seconds =
      static_cast<double>(station.port.wire_bytes) * kBitsPerByte / kBaud / iterations;
  state.counters["wire_us"] = wire_seconds * 1e6;
  state.counters["cpu_of_wire_pct"] = 100 * cpu / iterations / wire_seconds;
}

void BM_CrcUpdatePerByte(benchmark::State& state) {
  std::array<std::uint8_t, 256> bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
  for (auto _ : state) benchmark::DoNotOptimize(zarvo::crc_of(bytes));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}
BENCHMARK(BM_CrcUpdatePerByte);

void BM_BuildFrame(benchmark::State& state) {
  const std::array<std::uint8_t, 4> payload = {1, 2, 'J', 0};
  zarvo::TxFrame frame;
  for (auto _ : state) {
    zarvo::BuildFrame(frame, payload);
    benchmark::DoNotOptimize(frame);
  }
}
BENCHMARK(BM_BuildFrame);

void BM_StatusExchange(benchmark::State& state) {
  const SettingsFolder settings(false);
  Station station;
  const Bytes reply = ReplyFrame(1, 'J', "000300");
  station.port.reply = &reply;
  measure(state, station, [&] { benchmark::DoNotOptimize(station.driver.ReadPumpState(1, 1)); });
}
BENCHMARK(BM_StatusExchange);

// The same with the log on: the calling thread's share only (its own processor
// time), the writer thread formatting and writing on the other processor. The
// loop rests (no processor time) after each batch of exchanges, so that the
// writer keeps up and every event is queued rather than dropped.
void BM_StatusExchangeLogged(benchmark::State& state) {
  constexpr int kBatch = 400;  // two events each: within the queue
  const SettingsFolder settings(true);
  {
    Station station;
    const Bytes reply = ReplyFrame(1, 'J', "000300");
    station.port.reply = &reply;
    int exchanges = 0;
    measure(state, station, [&] {
      benchmark::DoNotOptimize(station.driver.ReadPumpState(1, 1));
      if (++exchanges % kBatch == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
  }
  // The object is gone: its log is complete.
  long dropped = 0;
  std::ifstream log(settings.log());
  for (std::string line; std::getline(log, line);) {
    if (line.find("not logged") != std::string::npos) dropped += std::stol(line.substr(25));
  }
  state.counters["dropped"] = static_cast<double>(dropped);
}
BENCHMARK(BM_StatusExchangeLogged)->Iterations(100000);

void BM_DeliveryReplyWithAcknowledgement(benchmark::State& state) {
  const SettingsFolder settings(false);
  Station station;
  const Bytes reply = ReplyFrame(1, 'a', std::string("\x00\x07", 2) + "0   100.00   2.00");
  const Bytes ack = ReplyFrame(1, 'Q', "0");
  station.port.reply = &reply;
  station.port.ack_reply = &ack;
  measure(state, station, [&] { benchmark::DoNotOptimize(station.driver.ReadPumpState(1, 1)); });
}
BENCHMARK(BM_DeliveryReplyWithAcknowledgement);

void BM_PresetAmount(benchmark::State& state) {
  const SettingsFolder settings(false);
  Station station;
  const Bytes reply = ReplyFrame(1, 'Q', "0");
  station.port.reply = &reply;
  station.driver.NozzleCount[*zarvo::PumpCell::of(1, 1)] = 6;
  station.driver.ParamsPending[*zarvo::PumpCell::of(1, 1)] = 0;  // a pump polled before
  zarvo::testing::DirectCalls calls(station.driver);
  measure(state, station, [&] { station.driver.PresetAmount(1, 1, 1, 123.45, calls); });
}
BENCHMARK(BM_PresetAmount);

}  // namespace

BENCHMARK_MAIN();
