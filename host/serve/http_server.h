// The station's HTTP server: the API, its events as Server-Sent Events and
// the web page, behind a bearer token, with limits on size, time and
// connections. The only place that knows the HTTP library.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "host/serve/api.h"

namespace zarvo::host {

struct HttpOptions {
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port
  std::string token;
  std::string tls_cert;  // both or neither
  std::string tls_key;
  std::size_t max_body = std::size_t{16} * 1024;
  // One read or write that makes no progress for this long ends the connection.
  std::chrono::seconds io_timeout{5};
  // A request must arrive whole within this time of the connection or the
  // previous response, however slowly its bytes trickle in.
  std::chrono::seconds request_time{10};
  std::size_t max_connections = 64;
  std::size_t max_event_streams = 32;
};

class HttpServer {
 public:
  // Binds at once; throws std::runtime_error when the address cannot be
  // had or the certificate and key cannot be used.
  HttpServer(const Api& api, EventLog& events, HttpOptions options);
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  int port() const;
  // Serves on the calling thread until stop().
  void run();
  void stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zarvo::host
