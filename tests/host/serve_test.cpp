// `zarvo serve` as a client meets it: the real program in a process of its
// own, over real HTTP on loopback, against the built-in simulator or one on
// a pseudo-terminal that outlives the server.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/output/json.h"
#include "sim/pty_simulator.h"
#include "tests/support/program.h"
#include "tests/support/settings_dir.h"

namespace zarvo::host {
namespace {

using namespace std::chrono_literals;

// `zarvo serve` on a free loopback port; ended with SIGTERM unless killed.
class Server {
 public:
  Server(const std::string& dir, std::vector<std::string> extra)
      : program_(arguments(dir, std::move(extra))) {
    // The first line says where it listens.
    started_ = program_.read_line(std::chrono::seconds(30)).value_or("");
    const Json started = Json::parse(started_, nullptr, false);
    const std::string url = started.is_object() ? started.value("url", "") : "";
    port_ = url.empty() ? 0 : std::stoi(url.substr(url.rfind(':') + 1));
    std::ifstream file(dir + "/token");
    std::getline(file, token_);
  }
  ~Server() { end(SIGTERM); }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  int end(int signal) { return program_.end(signal); }
  int port() const { return port_; }
  const std::string& token() const { return token_; }
  const std::string& started() const { return started_; }

  httplib::Client client(bool authorized = true) const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(30, 0);
    if (authorized) client.set_bearer_token_auth(token_.c_str());
    return client;
  }
  Json get(const std::string& path) const {
    const auto answer = client().Get(path.c_str());
    return answer ? Json::parse(answer->body, nullptr, false) : Json();
  }
  httplib::Result post(const std::string& path, const Json& body) const {
    return client().Post(path.c_str(), json_text(body), "application/json");
  }

  // The events after `last` until `until` holds for one, at most `timeout`.
  std::vector<Json> events_until(const std::function<bool(const Json&)>& until,
                                 std::chrono::seconds timeout, const std::string& last = {}) const {
    std::vector<Json> seen;
    httplib::Client stream = client();
    stream.set_read_timeout(timeout.count(), 0);
    httplib::Headers headers;
    if (!last.empty()) headers.emplace("Last-Event-ID", last);
    std::string buffered;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    stream.Get("/api/v1/events", headers, [&](const char* data, std::size_t size) {
      buffered.append(data, size);
      for (std::size_t end; (end = buffered.find("\n\n")) != std::string::npos;) {
        const std::string block = buffered.substr(0, end);
        buffered.erase(0, end + 2);
        const auto at = block.find("data: ");
        if (at == std::string::npos) continue;
        seen.push_back(Json::parse(block.substr(at + 6, block.find('\n', at) - at - 6)));
        if (until(seen.back())) return false;
      }
      return std::chrono::steady_clock::now() < deadline;
    });
    return seen;
  }

 private:
  static std::vector<std::string> arguments(const std::string& dir,
                                            std::vector<std::string> extra) {
    std::vector<std::string> args{ZARVO_TEST_TOOL, "--lib", ZARVO_TEST_LIBRARY, "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(),
                {"serve", "--listen", "127.0.0.1:0", "--token-file", dir + "/token", "--journal",
                 dir + "/journal.db", "--pumps", "2", "--request-timeout", "2"});
    return args;
  }

  testing::Program program_;
  int port_ = 0;
  std::string token_;
  std::string started_;
};

int status_of(const httplib::Result& result) {
  return result ? result->status : 0;
}

std::string field_of(const httplib::Result& result) {
  return result ? Json::parse(result->body, nullptr, false).value("field", "") : "";
}

bool ended_on_pump_1(const Json& event) {
  return event.value("event", "") == "delivery" && event.value("pump", 0) == 1;
}

class Serve : public ::testing::Test {
 protected:
  zarvo::testing::TempSettingsDir settings_;
  std::string dir() const { return settings_.path(); }
};

TEST_F(Serve, a_fuelling_cycle_runs_through_the_api_to_its_journal_entry_and_totals) {
  Server server(dir(), {});
  ASSERT_GT(server.port(), 0) << server.started();
  EXPECT_THAT(server.started(), ::testing::Not(::testing::HasSubstr(server.token())));
  const Json station = server.get("/api/v1/station");
  ASSERT_EQ(station.at("lines").size(), 1U) << station;
  EXPECT_EQ(station.at("lines")[0].at("pumps"), Json::parse("[1,2]"));

  const auto priced = server.post("/api/v1/lines/1/pumps/1/price", {{"nozzle", 1}, {"price", 50}});
  ASSERT_EQ(status_of(priced), 200) << (priced ? priced->body : "no answer");
  EXPECT_THAT(priced->body, ::testing::HasSubstr(R"("command":"price","line":1,"pump":1)"));
  const std::string since_start = "x.0.0";  // another run: every delivery journaled from the start
  const auto preset =
      server.post("/api/v1/lines/1/pumps/1/preset", {{"nozzle", 1}, {"amount", 100}});
  ASSERT_EQ(status_of(preset), 200) << (preset ? preset->body : "no answer");
  // Every pump as written before the delivery: it must not stay so.
  ASSERT_EQ(server.get("/api/v1/pumps").at("pumps").size(), 2U);

  const std::vector<Json> events = server.events_until(ended_on_pump_1, 30s, since_start);
  ASSERT_FALSE(events.empty());
  const Json& ended = events.back();
  ASSERT_TRUE(ended_on_pump_1(ended)) << json_text(ended);
  EXPECT_EQ(ended.at("volume"), 2);
  EXPECT_EQ(ended.at("amount"), 100);
  const auto rising = std::ranges::count_if(
      events, [](const Json& e) { return e.value("event", "") == "progress"; });
  EXPECT_GT(rising, 0);

  const Json journal = server.get("/api/v1/deliveries?line=1&pump=1");
  ASSERT_EQ(journal.at("deliveries").size(), 1U) << journal;
  EXPECT_EQ(journal.at("deliveries")[0].at("id"), ended.at("journal_id"));
  EXPECT_EQ(journal.at("deliveries")[0].at("amount"), 100);
  const Json totals = server.get("/api/v1/lines/1/pumps/1/totals?nozzle=1");
  EXPECT_EQ(totals.value("volume", 0.0), 2.0) << totals;
  EXPECT_EQ(totals.value("amount", 0.0), 100.0);
  const Json pump = server.get("/api/v1/lines/1/pumps/1");
  EXPECT_EQ(pump.at("delivery").at("amount"), 100) << pump;
  const Json every = server.get("/api/v1/pumps");
  EXPECT_EQ(every.at("pumps")[0].at("delivery").at("amount"), 100) << every;

  // Every command is in the journal's database, with who asked.
  EXPECT_EQ(server.end(SIGTERM), 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir() + "/journal.db").c_str(), &db), SQLITE_OK);
  sqlite3_stmt* rows = nullptr;
  sqlite3_prepare_v2(db, "SELECT client, command, outcome FROM commands ORDER BY id", -1, &rows,
                     nullptr);
  std::vector<std::string> recorded;
  while (sqlite3_step(rows) == SQLITE_ROW) {
    recorded.push_back(
        std::string(reinterpret_cast<const char*>(sqlite3_column_text(rows, 0))).substr(0, 10) +
        " " + reinterpret_cast<const char*>(sqlite3_column_text(rows, 2)));
  }
  sqlite3_finalize(rows);
  sqlite3_close(db);
  EXPECT_THAT(recorded,
              ::testing::ElementsAre("127.0.0.1: done", "127.0.0.1: done", "127.0.0.1: done"));
}

TEST_F(Serve, nobody_gets_in_without_the_token_and_every_bad_request_is_named) {
  Server server(dir(), {});
  ASSERT_GT(server.port(), 0) << server.started();
  struct stat file {};
  ASSERT_EQ(::stat((dir() + "/token").c_str(), &file), 0);
  EXPECT_EQ(file.st_mode & 0777, 0600U);

  auto bare = server.client(false);
  auto wrong = server.client(false);
  wrong.set_bearer_token_auth("not-the-token-at-all");
  const std::string in_query = "/api/v1/pumps?token=" + server.token();
  EXPECT_EQ(status_of(bare.Get("/api/v1/pumps")), 401);
  EXPECT_EQ(status_of(wrong.Get("/api/v1/pumps")), 401);
  EXPECT_EQ(status_of(bare.Get(in_query.c_str())), 401);
  EXPECT_EQ(status_of(bare.Get("/api/v1/events")), 401);
  EXPECT_EQ(status_of(bare.Post("/api/v1/lines/1/stop-all", "{}", "application/json")), 401);

  const auto malformed =
      server.client().Post("/api/v1/lines/1/pumps/1/price", "{\"nozzle\":1,", "application/json");
  EXPECT_EQ(status_of(malformed), 400);
  EXPECT_EQ(field_of(malformed), "body");
  const std::vector<std::pair<Json, std::string>> out_of_range{
      {{{"nozzle", 7}, {"price", 50}}, "nozzle"},
      {{{"nozzle", 1}, {"price", -1}}, "price"},
      {{{"nozzle", 1}, {"price", "50"}}, "price"},
      {{{"nozzle", 1}, {"cost", 50}}, "cost"}};
  for (const auto& [body, field] : out_of_range) {
    const auto answer = server.post("/api/v1/lines/1/pumps/1/price", body);
    EXPECT_EQ(status_of(answer), 400) << body;
    EXPECT_EQ(field_of(answer), field) << body;
  }
  const auto no_pump = server.post("/api/v1/lines/1/pumps/33/stop", Json::object());
  EXPECT_EQ(status_of(no_pump), 400);
  EXPECT_EQ(field_of(no_pump), "pump");
  EXPECT_EQ(status_of(server.post("/api/v1/lines/2/stop-all", Json::object())), 404);
  // More decimals than the pump takes: it answers, and refuses.
  const auto refused = server.client().Put("/api/v1/lines/1/pumps/1/parameters/40",
                                           R"({"value":7})", "application/json");
  ASSERT_EQ(status_of(refused), 409) << (refused ? refused->body : "no answer");
  EXPECT_EQ(Json::parse(refused->body).value("error", ""),
            "the pump refused it (answer 1): write parameter 40 = 0x07, pump 1");
  const auto huge = server.client().Post("/api/v1/lines/1/pumps/1/price",
                                         std::string(64 * 1024, ' '), "application/json");
  EXPECT_EQ(status_of(huge), 413);

  const auto page = bare.Get("/");
  ASSERT_EQ(status_of(page), 200);
  EXPECT_THAT(page->get_header_value("Content-Security-Policy"),
              ::testing::HasSubstr("default-src 'none'"));
  EXPECT_FALSE(page->has_header("Access-Control-Allow-Origin"));
}

TEST_F(Serve, a_client_sending_a_byte_a_second_is_cut_off) {
  Server server(dir(), {});
  ASSERT_GT(server.port(), 0) << server.started();
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(server.port()));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request =
      "GET /api/v1/station HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(40, 'a') + "\r\n\r\n";
  const auto began = std::chrono::steady_clock::now();
  std::size_t sent = 0;
  for (; sent < request.size(); ++sent) {
    if (::send(fd, &request[sent], 1, MSG_NOSIGNAL) != 1) break;
    char byte = 0;
    // A closed connection reads as its end before the next byte goes.
    if (::recv(fd, &byte, 1, MSG_DONTWAIT) == 0) break;
    std::this_thread::sleep_for(1s);
  }
  ::close(fd);
  const auto held = std::chrono::steady_clock::now() - began;
  EXPECT_LT(sent, request.size());
  EXPECT_LT(held, 8s);
  // The server goes on serving others.
  EXPECT_TRUE(server.get("/api/v1/station").is_object());
}

TEST_F(Serve, plain_http_beyond_loopback_is_refused_unless_asked_for) {
  testing::Program server({ZARVO_TEST_TOOL, "--lib", ZARVO_TEST_LIBRARY, "serve", "--listen",
                           "0.0.0.0:0", "--token-file", dir() + "/t", "--journal",
                           dir() + "/j.db"});
  EXPECT_EQ(server.wait(std::chrono::seconds(20)), 2);
}

TEST_F(Serve, a_server_killed_during_a_delivery_journals_it_once_when_started_again) {
  sim::Options options;
  options.model.flow_lpm = 30;  // 2 l in 4 s
  options.model.reaction = 50ms;
  sim::PtySimulator dispensers(options);
  const std::vector<std::string> line{"--line", "1=" + dispensers.device_path()};
  std::string last;
  {
    Server first(dir(), line);
    ASSERT_GT(first.port(), 0) << first.started();
    ASSERT_EQ(
        status_of(first.post("/api/v1/lines/1/pumps/1/price", {{"nozzle", 1}, {"price", 50}})),
        200);
    ASSERT_EQ(
        status_of(first.post("/api/v1/lines/1/pumps/1/preset", {{"nozzle", 1}, {"amount", 100}})),
        200);
    const auto fuelling =
        first.events_until([](const Json& e) { return e.value("event", "") == "progress"; }, 20s);
    ASSERT_FALSE(fuelling.empty());
    EXPECT_EQ(fuelling.back().value("event", ""), "progress");
    first.end(SIGKILL);
  }
  Server second(dir(), line);
  ASSERT_GT(second.port(), 0) << second.started();
  // A client of the killed run comes back: the delivery is among what it missed.
  const auto missed = second.events_until(ended_on_pump_1, 30s, "gone.1.0");
  ASSERT_FALSE(missed.empty());
  EXPECT_TRUE(ended_on_pump_1(missed.back()));
  std::this_thread::sleep_for(500ms);  // the pump, released, reports it no more
  const Json journal = second.get("/api/v1/deliveries");
  ASSERT_EQ(journal.at("deliveries").size(), 1U) << journal;
  EXPECT_EQ(journal.at("deliveries")[0].at("amount"), 100);
  const auto record = dispensers.simulator().transactions();
  ASSERT_EQ(record.size(), 1U);
  EXPECT_TRUE(record[0].acknowledged);
}

}  // namespace
}  // namespace zarvo::host
