#include "host/serve/http_server.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "host/serve/token.h"
#include "host/serve/web_assets.h"

namespace zarvo::host {

namespace {

using Clock = std::chrono::steady_clock;

// With its parameter the library sends the answers as they are: it would
// compress exactly "application/json", and with brotli at its slowest, which
// costs a browser's read of every pump 0.8 s of the server's time.
constexpr const char* kJson = "application/json; charset=utf-8";
constexpr const char* kPagePolicy =
    "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; "
    "img-src 'self'; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
// A quiet event stream says so this often, so that proxies and clients keep it.
constexpr std::chrono::seconds kKeepAlive{15};
constexpr auto kWatchInterval = std::chrono::milliseconds(200);
constexpr const char* kTooMany =
    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\n"
    "Connection: close\r\nContent-Length: 44\r\n\r\n"
    "{\"error\":\"too many connections; try again\"}\n";

// Runs each connection on a thread of its own up to a cap, and ends a
// connection whose request does not arrive whole in time. The library reads
// with a timeout on each read only, which a client sending a byte a second
// never meets; the guard finds the connection's socket and shuts it down.
class ConnectionGuard final : public httplib::TaskQueue {
 public:
  ConnectionGuard(std::size_t cap, Clock::duration request_time, int port, bool plain)
      : cap_(cap), request_time_(request_time), port_(port), plain_(plain) {
    for (std::size_t i = 0; i < cap_; ++i) threads_.emplace_back([this] { serve(); });
    watchdog_ = std::thread([this] { watch(); });
  }
  ~ConnectionGuard() override { shutdown(); }
  ConnectionGuard(const ConnectionGuard&) = delete;
  ConnectionGuard& operator=(const ConnectionGuard&) = delete;

  void enqueue(std::function<void()> fn) override {
    auto connection = std::make_shared<Connection>();
    connection->set_deadline(Clock::now() + request_time_);
    std::unique_lock lock(mutex_);
    find_socket(*connection);
    if (active_.size() >= cap_) {
      lock.unlock();
      refuse(*connection);
      fn();  // closes the socket at once: it has been shut down
      return;
    }
    active_.insert(connection);
    jobs_.emplace_back(std::move(fn), std::move(connection));
    lock.unlock();
    wake_.notify_one();  // a connection thread: the watchdog waits on a variable of its own
  }

  void shutdown() override {
    {
      std::lock_guard lock(mutex_);
      if (done_) return;
      done_ = true;
    }
    wake_.notify_all();
    watch_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    watchdog_.join();
  }

  // On a connection's thread: the request is in; no deadline while it is served.
  static void handling() { deadline_of_this_thread(Clock::time_point::max()); }
  // On a connection's thread: the response is out; the next request has its time.
  static void responded(Clock::duration request_time) {
    deadline_of_this_thread(Clock::now() + request_time);
  }

 private:
  struct Connection {
    int fd = -1;
    ino_t inode = 0;
    bool cut = false;  // under the guard's mutex
    // Set by the connection's thread, read by the watchdog.
    std::atomic<Clock::rep> deadline_ticks{0};
    void set_deadline(Clock::time_point at) { deadline_ticks = at.time_since_epoch().count(); }
    Clock::time_point deadline_at() const {
      return Clock::time_point(Clock::duration(deadline_ticks.load()));
    }
  };

  static std::shared_ptr<Connection>& current() {
    thread_local std::shared_ptr<Connection> connection;
    return connection;
  }

  static void deadline_of_this_thread(Clock::time_point at) {
    if (const auto& connection = current()) connection->set_deadline(at);
  }

  // The socket just accepted: connected to our port, and not among those served.
  void find_socket(Connection& connection) const {
    DIR* fds = ::opendir("/proc/self/fd");
    if (fds == nullptr) return;
    std::set<ino_t> known;
    for (const auto& other : active_) known.insert(other->inode);
    while (const dirent* entry = ::readdir(fds)) {
      const int fd = std::atoi(entry->d_name);
      struct stat status {};
      if (entry->d_name[0] == '.' || ::fstat(fd, &status) != 0 || !S_ISSOCK(status.st_mode) ||
          known.contains(status.st_ino)) {
        continue;
      }
      sockaddr_storage local{}, peer{};
      socklen_t local_size = sizeof local, peer_size = sizeof peer;
      if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_size) != 0 ||
          ::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0) {
        continue;
      }
      const auto port = local.ss_family == AF_INET6
                            ? reinterpret_cast<const sockaddr_in6*>(&local)->sin6_port
                            : reinterpret_cast<const sockaddr_in*>(&local)->sin_port;
      if (ntohs(port) != port_) continue;
      // The newest of several unknown (a racing close) is the highest inode.
      if (connection.fd < 0 || status.st_ino > connection.inode) {
        connection.fd = fd;
        connection.inode = status.st_ino;
      }
    }
    ::closedir(fds);
  }

  void refuse(const Connection& connection) const {
    if (connection.fd < 0) return;
    if (plain_) {
      [[maybe_unused]] const auto sent =
          ::send(connection.fd, kTooMany, std::char_traits<char>::length(kTooMany), MSG_NOSIGNAL);
    }
    ::shutdown(connection.fd, SHUT_RDWR);
  }

  void serve() {
    for (;;) {
      std::pair<std::function<void()>, std::shared_ptr<Connection>> job;
      {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return done_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      current() = job.second;
      job.first();
      current().reset();
      std::lock_guard lock(mutex_);
      active_.erase(job.second);
    }
  }

  void watch() {
    std::unique_lock lock(mutex_);
    while (!watch_.wait_for(lock, kWatchInterval, [this] { return done_; })) {
      const auto now = Clock::now();
      for (const auto& connection : active_) {
        if (connection->cut || connection->fd < 0 || connection->deadline_at() > now) continue;
        // The same socket still, not a descriptor number used again.
        struct stat status {};
        if (::fstat(connection->fd, &status) == 0 && status.st_ino == connection->inode) {
          ::shutdown(connection->fd, SHUT_RDWR);
        }
        connection->cut = true;
      }
    }
  }

  std::size_t cap_;
  Clock::duration request_time_;
  int port_;
  bool plain_;
  std::mutex mutex_;
  std::condition_variable wake_;   // a job for a connection thread
  std::condition_variable watch_;  // the end, for the watchdog
  bool done_ = false;
  std::deque<std::pair<std::function<void()>, std::shared_ptr<Connection>>> jobs_;
  std::set<std::shared_ptr<Connection>> active_;
  std::vector<std::thread> threads_;
  std::thread watchdog_;
};

void send_json(httplib::Response& res, int status, Json body) {
  res.status = status;
  res.set_content(json_text(std::move(body)) + "\n", kJson);
}

std::string bearer_of(const httplib::Request& req) {
  const std::string header = req.get_header_value("Authorization");
  constexpr std::string_view kScheme = "Bearer ";
  return header.starts_with(kScheme) ? header.substr(kScheme.size()) : std::string();
}

std::string random_boot() {
  std::random_device source;
  constexpr char kHex[] = "0123456789abcdef";
  std::string boot;
  for (int i = 0; i < 8; ++i) boot += kHex[source() & 0xFU];
  return boot;
}

// An event id: the run, the event's number and the newest delivery the
// client has been told of, so that a client coming back to another run is
// given the deliveries it missed from the journal.
struct EventId {
  std::string boot;
  std::uint64_t number = 0;
  std::int64_t delivery = 0;
};

std::optional<EventId> parse_event_id(const std::string& text) {
  const auto first = text.find('.');
  const auto second = text.find('.', first == std::string::npos ? first : first + 1);
  if (first == std::string::npos || second == std::string::npos) return std::nullopt;
  try {
    return EventId{text.substr(0, first), std::stoull(text.substr(first + 1, second - first - 1)),
                   std::stoll(text.substr(second + 1))};
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// One client's event stream.
struct EventStream {
  std::uint64_t cursor = 0;   // the station's events sent so far
  std::int64_t delivery = 0;  // the newest delivery told
  std::int64_t replayed = 0;  // deliveries up to this one came from the journal
  std::vector<Json> backlog;  // to send first
};

}  // namespace

struct HttpServer::Impl {
  const Api& api;
  EventLog& events;
  HttpOptions options;
  std::string boot = random_boot();
  std::unique_ptr<httplib::Server> server;
  int port = 0;
  std::atomic<std::size_t> streams{0};
  std::atomic<bool> stopping{false};

  Impl(const Api& api_, EventLog& events_, HttpOptions options_)
      : api(api_), events(events_), options(std::move(options_)) {}

  bool authorized(const httplib::Request& req) const {
    return same_token(bearer_of(req), options.token);
  }

  std::string event_text(const Json& body, EventStream& stream) const {
    if (body.value("event", "") == "delivery") {
      stream.delivery = std::max(stream.delivery, body.value("journal_id", std::int64_t{0}));
    }
    return "id: " + boot + "." + std::to_string(stream.cursor) + "." +
           std::to_string(stream.delivery) + "\ndata: " + json_text(body) + "\n\n";
  }

  // A new stream's starting point; reads the journal when the client comes
  // back from another run or from too long away, which may throw.
  std::shared_ptr<EventStream> start_stream(const httplib::Request& req) const {
    auto stream = std::make_shared<EventStream>();
    stream->cursor = events.last_id();
    stream->delivery = api.newest_delivery();
    if (const auto last = parse_event_id(req.get_header_value("Last-Event-ID"))) {
      bool complete = false;
      std::vector<StationEvent> kept = events.after(last->number, &complete);
      if (last->boot == boot && complete) {
        stream->cursor = last->number;
        stream->delivery = last->delivery;
      } else {
        // Another run, or too long away: what counts is every delivery missed.
        replay_journal(*stream, last->delivery);
      }
    }
    return stream;
  }

  // Queues every delivery after `from`, from the journal.
  void replay_journal(EventStream& stream, std::int64_t from) const {
    std::vector<Json> missed = api.deliveries_after(from);
    stream.replayed = std::max(stream.replayed, from);
    if (!missed.empty()) {
      stream.replayed =
          std::max(stream.replayed, missed.back().value("journal_id", std::int64_t{0}));
    }
    for (Json& body : missed) stream.backlog.push_back(std::move(body));
  }

  void open_stream(const httplib::Request& req, httplib::Response& res) {
    if (streams.fetch_add(1) >= options.max_event_streams) {
      streams.fetch_sub(1);
      send_json(res, 503, Json{{"error", "too many event streams; try again"}});
      return;
    }
    std::shared_ptr<EventStream> stream;
    try {
      stream = start_stream(req);
    } catch (...) {
      streams.fetch_sub(1);  // the slot goes back whatever the journal did
      throw;
    }
    res.set_header("Cache-Control", "no-store");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, stream](std::size_t, httplib::DataSink& sink) { return pump_events(*stream, sink); },
        [this](bool) { streams.fetch_sub(1); });
  }

  bool pump_events(EventStream& stream, httplib::DataSink& sink) {
    std::string text;
    if (!stream.backlog.empty()) {
      text = "retry: 2000\n\n";
      for (const Json& body : stream.backlog) text += event_text(body, stream);
      stream.backlog.clear();
    } else if (events.wait_after(stream.cursor, kKeepAlive); stopping || events.closed()) {
      sink.done();
      return true;
    }
    bool complete = true;
    const std::vector<StationEvent> kept = events.after(stream.cursor, &complete);
    if (!complete) {
      // Fell behind the log: the deliveries it dropped come from the journal.
      try {
        replay_journal(stream, stream.delivery);
      } catch (const std::exception&) {
        return false;  // the client comes back with its last id and is given them then
      }
      for (const Json& body : stream.backlog) text += event_text(body, stream);
      stream.backlog.clear();
    }
    for (const StationEvent& event : kept) {
      stream.cursor = event.id;
      if (event.body.value("event", "") == "delivery" &&
          event.body.value("journal_id", std::int64_t{0}) <= stream.replayed) {
        continue;  // sent from the journal already
      }
      text += event_text(Api::event_json(event), stream);
    }
    if (text.empty()) text = ": still here\n\n";
    return sink.is_writable() && sink.write(text.data(), text.size());
  }

  void route(const httplib::Request& req, httplib::Response& res) {
    ConnectionGuard::handling();
    if (req.path == std::string(kApiRoot) + "/events" && req.method == "GET") {
      open_stream(req, res);
      return;
    }
    if (req.path == std::string(kApiRoot) + "/openapi.json" && req.method == "GET") {
      res.set_content(openapi_document(), kJson);
      return;
    }
    ApiRequest request{req.method,
                       req.path,
                       {},
                       req.body,
                       req.remote_addr + ":" + std::to_string(req.remote_port)};
    for (const auto& [key, value] : req.params) request.query[key] = value;
    ApiResponse answer = api.handle(request);
    if (answer.text.empty()) {
      send_json(res, answer.status, std::move(answer.body));
      return;
    }
    res.status = answer.status;
    answer.text += '\n';
    res.body = std::move(answer.text);
    res.set_header("Content-Type", kJson);
  }

  void serve_page(const httplib::Request& req, httplib::Response& res) const {
    ConnectionGuard::handling();
    for (const WebAsset& asset : web_assets()) {
      if (asset.path.ends_with(".json")) continue;  // the API's document is the API's
      if (asset.path == req.path || (req.path == "/" && asset.path == "/index.html")) {
        res.set_header("Content-Security-Policy", kPagePolicy);
        res.set_content(std::string(asset.body), std::string(asset.content_type));
        return;
      }
    }
    send_json(res, 404, Json{{"error", "no such page: " + req.path}});
  }

  void set_up() {
    httplib::Server& s = *server;
    // Small answers go out at once, not after the client's delayed acknowledgement.
    s.set_tcp_nodelay(true);
    s.set_payload_max_length(options.max_body);
    s.set_read_timeout(options.io_timeout);
    s.set_write_timeout(options.io_timeout);
    s.set_keep_alive_timeout(options.io_timeout.count());
    s.set_keep_alive_max_count(1000);
    s.set_default_headers({{"X-Content-Type-Options", "nosniff"},
                           {"Referrer-Policy", "no-referrer"},
                           {"X-Frame-Options", "DENY"},
                           {"Cache-Control", "no-store"}});
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
      // The page itself holds no data; everything under the API needs the token.
      if (!req.path.starts_with("/api/") || authorized(req)) {
        return httplib::Server::HandlerResponse::Unhandled;
      }
      res.set_header("WWW-Authenticate", "Bearer");
      send_json(res, 401,
                Json{{"error",
                      "give the token as \"Authorization: Bearer TOKEN\" (the file "
                      "zarvo serve named at start holds it)"}});
      return httplib::Server::HandlerResponse::Handled;
    });
    const auto api_route = [this](const httplib::Request& req, httplib::Response& res) {
      route(req, res);
    };
    const std::string pattern = std::string(kApiRoot) + "/.*";
    s.Get(pattern, api_route);
    s.Post(pattern, api_route);
    s.Put(pattern, api_route);
    s.Get("/[a-z.]*",
          [this](const httplib::Request& req, httplib::Response& res) { serve_page(req, res); });
    s.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
      if (!res.body.empty()) return;
      std::string why = std::string("cannot ") + req.method + " " + req.path;
      if (res.status == 413) why = "the body is too large";
      if (res.status == 400) {
        why +=
            ": the request could not be read (a POST or PUT needs a body with its length; {} "
            "when it has nothing to say)";
      }
      const Json body{{"error", why}};
      res.set_content(json_text(body) + "\n", kJson);
    });
    s.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr failure) {
          std::string why = "unknown failure";
          try {
            std::rethrow_exception(std::move(failure));
          } catch (const std::exception& e) {
            why = e.what();
          } catch (...) {
          }
          send_json(res, 500, Json{{"error", why}});
        });
    const auto request_time = options.request_time;
    s.set_logger([request_time](const httplib::Request&, const httplib::Response&) {
      ConnectionGuard::responded(request_time);
    });
  }
};

HttpServer::HttpServer(const Api& api, EventLog& events, HttpOptions options)
    : impl_(std::make_unique<Impl>(api, events, std::move(options))) {
  Impl& impl = *impl_;
  const bool tls = !impl.options.tls_cert.empty();
  if (tls) {
    auto secure = std::make_unique<httplib::SSLServer>(impl.options.tls_cert.c_str(),
                                                       impl.options.tls_key.c_str());
    if (!secure->is_valid()) {
      throw std::runtime_error("cannot serve HTTPS with " + impl.options.tls_cert + " and " +
                               impl.options.tls_key + ": not a certificate and its key");
    }
    impl.server = std::move(secure);
  } else {
    impl.server = std::make_unique<httplib::Server>();
  }
  impl.set_up();
  if (impl.options.port == 0) {
    impl.port = impl.server->bind_to_any_port(impl.options.host);
  } else if (impl.server->bind_to_port(impl.options.host, impl.options.port)) {
    impl.port = impl.options.port;
  }
  if (impl.port <= 0) {
    throw std::runtime_error("cannot listen on " + impl.options.host + ":" +
                             std::to_string(impl.options.port) +
                             " (in use, or not an address of this machine)");
  }
  // The library takes the queue and deletes it when it stops listening.
  impl.server->new_task_queue = [&impl, tls] {
    return std::make_unique<ConnectionGuard>(impl.options.max_connections,
                                             impl.options.request_time, impl.port, !tls)
        .release();
  };
}

HttpServer::~HttpServer() {
  stop();
}

int HttpServer::port() const {
  return impl_->port;
}

void HttpServer::run() {
  impl_->server->listen_after_bind();
}

void HttpServer::stop() {
  impl_->stopping = true;
  // Event streams wait on the log: closed, they end at once and the server can.
  impl_->events.close();
  impl_->server->stop();
}

}  // namespace zarvo::host
