// `zarvo serve`: the station as a service. One process owns the lines (the
// station core) and serves them over HTTP: the API under /api/v1, its events
// as Server-Sent Events, and the web page at /.
#pragma once

#include <cstdint>
#include <string>

#include "host/output/output.h"
#include "host/session/session.h"

namespace CLI {
class App;
}

namespace zarvo::host {

struct ServeOptions {
  std::string listen = "127.0.0.1:8080";  // HOST:PORT, [IPv6]:PORT; port 0: any free one
  std::string token_file;                 // empty: default_token_path()
  std::string tls_cert;
  std::string tls_key;
  std::string journal;  // empty: journal.db beside the token file
  bool insecure = false;
  std::uint32_t request_timeout_s = 10;  // for a whole request, however slowly it arrives
  std::uint32_t pumps = 0;               // pumps 1..N on each line; 0 finds those that answer
  std::uint32_t simulated_lines = 1;
};

// Adds the `serve` subcommand with its options, which parse into `options`.
CLI::App* add_serve_options(CLI::App& app, ServeOptions& options);

// Serves until SIGINT or SIGTERM; returns the exit status. Throws
// std::runtime_error when it cannot start (address, token, certificate,
// journal, a line held elsewhere).
int serve(const SessionOptions& session, Output& out, const ServeOptions& options);

// Whether the host part of an address is this machine's loopback.
bool loopback_host(const std::string& host);

// HOST and PORT of a --listen value; throws std::invalid_argument.
std::pair<std::string, int> split_listen(const std::string& listen);

}  // namespace zarvo::host
