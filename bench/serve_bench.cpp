// What serving costs the lines: the polls a second of N simulated lines under
// `zarvo bench`, then under the station with its HTTP server busy (event
// clients connected, reads at a steady rate), and how fast a read answers.
//
//   serve_bench LIBRARY [--lines N] [--seconds S] [--event-clients E] [--reads-per-second R]
//
// Not a test: it prints its figures and the ratio.
#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/output/output.h"
#include "host/port/serial_port.h"
#include "host/serve/api.h"
#include "host/serve/http_server.h"
#include "host/session/session.h"
#include "host/station/station.h"
#include "host/tools/bench.h"

namespace {

using namespace zarvo::host;
using Clock = std::chrono::steady_clock;

struct Settings {
  std::string library;
  std::uint32_t lines = kLastLine;
  double seconds = 20;
  int event_clients = 20;
  int reads_per_second = 100;
};

constexpr std::uint32_t kPumps = 32;

double bench_polls_per_second(const Settings& s) {
  SessionOptions session;
  session.library = s.library;
  BenchOptions options;
  options.lines = s.lines;
  options.pumps = kPumps;
  options.seconds = s.seconds;
  std::ostringstream results, notes;
  Output out(true, results, notes);
  if (bench(session, out, options) != 0) {
    std::cerr << notes.str() << results.str();
    return 0;
  }
  double total = 0;
  const Json figures = Json::parse(results.str());
  for (const Json& line : figures.at("per_line")) {
    total += line.at("polls_per_second").get<double>();
  }
  return total;
}

std::uint64_t polls_of(const Station& station) {
  std::uint64_t polls = 0;
  for (const LineView& line : station.lines()) polls += line.polls;
  return polls;
}

double percentile(std::vector<double> values, double share) {
  if (values.empty()) return 0;
  std::ranges::sort(values);
  const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1));
  return values[at];
}

int run(const Settings& s) {
  std::printf("zarvo bench: %u lines x %u pumps for %.0f s...\n", s.lines, kPumps, s.seconds);
  std::fflush(stdout);
  const double alone = bench_polls_per_second(s);

  SessionOptions options;
  options.library = s.library;
  options.simulator.model.pumps = static_cast<int>(kPumps);
  const auto simulators = bind_simulated_lines(options, s.lines);
  std::ostringstream diagnostics;
  Session session(options, diagnostics);
  StationOptions polling;
  polling.pumps = kPumps;
  Station station(session, polling);
  const Api api(station, "bench");
  HttpOptions http;
  http.port = 0;
  http.token = "bench-token-0123456789abcdef";
  HttpServer server(api, station.events(), http);
  std::thread serving([&server] { server.run(); });
  // The first sweep programs every pump's parameters: left out, as bench does.
  station.wait_for_sweeps(1, std::chrono::seconds(120));

  // The whole forecourt's answer as the API makes it, without HTTP: what a
  // read costs the server apart from the wire and the scheduler.
  std::vector<double> made_ms;
  for (int i = 0; i < 200; ++i) {
    const auto asked = Clock::now();
    const ApiResponse answer = api.handle(ApiRequest{"GET", "/api/v1/pumps", {}, {}, "bench"});
    made_ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - asked).count());
    if (answer.status != 200) std::fprintf(stderr, "GET /pumps answered %d\n", answer.status);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }

  std::atomic<bool> done{false};
  std::atomic<std::uint64_t> event_bytes{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < s.event_clients; ++i) {
    clients.emplace_back([&] {
      httplib::Client client("127.0.0.1", server.port());
      client.set_bearer_token_auth(http.token.c_str());
      client.set_read_timeout(60, 0);
      client.Get("/api/v1/events", [&](const char*, std::size_t size) {
        event_bytes += size;
        return !done;
      });
    });
  }
  std::printf(
      "station: the same lines under %d event clients and %d reads a second for %.0f s...\n",
      s.event_clients, s.reads_per_second, s.seconds);
  std::fflush(stdout);
  std::vector<double> pump_ms, pumps_ms, station_ms;
  const std::uint64_t polls_before = polls_of(station);
  const auto began = Clock::now();
  {
    httplib::Client reader("127.0.0.1", server.port());
    reader.set_bearer_token_auth(http.token.c_str());
    reader.set_keep_alive(true);
    reader.set_tcp_nodelay(true);
    const auto period = std::chrono::microseconds(1'000'000 / s.reads_per_second);
    auto next = began;
    for (int i = 0; Clock::now() - began < std::chrono::duration<double>(s.seconds); ++i) {
      std::this_thread::sleep_until(next);
      next += period;
      // Mostly one pump, as a point of sale asks; now and then the station and every pump.
      std::string path = "/api/v1/lines/" + std::to_string(1 + i % s.lines) + "/pumps/" +
                         std::to_string(1 + i % kPumps);
      std::vector<double>* into = &pump_ms;
      if (i % 10 == 5) {
        path = "/api/v1/station";
        into = &station_ms;
      } else if (i % 10 == 9) {
        path = "/api/v1/pumps";
        into = &pumps_ms;
      }
      const auto asked = Clock::now();
      const auto answer = reader.Get(path.c_str());
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
      if (!answer || answer->status != 200) {
        std::fprintf(stderr, "read %s failed\n", path.c_str());
        continue;
      }
      // The first opens the connection, which the burst of event clients may
      // have queued behind the library's listen backlog of 5: not a read's time.
      if (i > 0) into->push_back(ms);
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();
  const double served = static_cast<double>(polls_of(station) - polls_before) / elapsed;
  done = true;
  server.stop();
  serving.join();
  for (std::thread& client : clients) client.join();
  station.stop();

  std::vector<double> all = pump_ms;
  all.insert(all.end(), station_ms.begin(), station_ms.end());
  all.insert(all.end(), pumps_ms.begin(), pumps_ms.end());
  std::printf("polls/s: bench %.1f, station while serving %.1f; ratio %.4f\n", alone, served,
              alone > 0 ? served / alone : 0.0);
  const auto show = [](const char* what, const std::vector<double>& ms) {
    std::printf("  %-28s %5zu reads: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", what, ms.size(),
                percentile(ms, 0.5), percentile(ms, 0.99), percentile(ms, 1.0));
  };
  show("GET /lines/L/pumps/P", pump_ms);
  show("GET /station", station_ms);
  show("GET /pumps (every pump)", pumps_ms);
  show("all reads", all);
  show("/pumps made, without HTTP", made_ms);
  std::printf("event bytes sent to %d clients: %llu\n", s.event_clients,
              static_cast<unsigned long long>(event_bytes.load()));
  return 0;
}

int usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s LIBRARY [--lines N] [--seconds S] [--event-clients E] "
               "[--reads-per-second R]\n"
               "  --lines N  %u to %u\n",
               program, kFirstLine, kLastLine);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage(argv[0]);
  Settings s;
  s.library = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string key = argv[i];
    const std::string value = argv[i + 1];
    if (key == "--lines") {
      const char* end = value.data() + value.size();
      const auto [stop, error] = std::from_chars(value.data(), end, s.lines);
      if (error != std::errc() || stop != end || s.lines < kFirstLine || s.lines > kLastLine) {
        return usage(argv[0]);
      }
    } else if (key == "--seconds") {
      s.seconds = std::stod(value);
    } else if (key == "--event-clients") {
      s.event_clients = std::stoi(value);
    } else if (key == "--reads-per-second") {
      s.reads_per_second = std::max(1, std::stoi(value));
    } else {
      std::fprintf(stderr, "unknown option %s\n", key.c_str());
      return 2;
    }
  }
  return run(s);
}
