#include <filesystem>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host/serve/api.h"
#include "host/serve/http_server.h"
#include "host/serve/serve.h"
#include "host/serve/token.h"
#include "host/session/console.h"
#include "host/station/station.h"

#ifndef ZARVO_VERSION
#define ZARVO_VERSION "unknown"
#endif

namespace zarvo::host {

int serve(const SessionOptions& base, Output& out, const ServeOptions& options) {
  const auto [host, port] = split_listen(options.listen);
  const bool tls = !options.tls_cert.empty();
  if (!loopback_host(host) && !tls && !options.insecure) {
    throw std::runtime_error("will not serve plain HTTP on " + host +
                             ", which is not loopback: the token would cross the network in "
                             "clear. Give --tls-cert and --tls-key, or --insecure");
  }
  const std::string token_path =
      options.token_file.empty() ? default_token_path() : options.token_file;
  bool created = false;
  const std::string token = load_or_create_token(token_path, created);
  const std::string journal =
      options.journal.empty()
          ? (std::filesystem::path(token_path).parent_path() / "journal.db").string()
          : options.journal;

  // Before any thread starts (the simulators' too), so that every thread
  // leaves the signals to it.
  const InterruptWatch interrupts;
  SessionOptions lines = base;
  std::vector<std::unique_ptr<BuiltinSimulator>> simulators;
  if (lines.lines.empty() && options.simulated_lines > 1) {
    simulators = bind_simulated_lines(lines, options.simulated_lines);
  }
  Session session(lines, out.err());
  StationOptions polling;
  polling.pumps = options.pumps;
  polling.journal = journal;
  Station station(session, polling);
  const Api api(station, ZARVO_VERSION);
  HttpOptions http;
  http.host = host;
  http.port = port;
  http.token = token;
  http.tls_cert = options.tls_cert;
  http.tls_key = options.tls_key;
  http.request_time = std::chrono::seconds(options.request_timeout_s);
  HttpServer server(api, station.events(), http);

  const std::string shown_host = host.find(':') != std::string::npos ? "[" + host + "]" : host;
  const std::string url =
      (tls ? "https://" : "http://") + shown_host + ":" + std::to_string(server.port()) + "/";
  out.result(Json{{"command", "serve"},
                  {"url", url},
                  {"token_file", token_path},
                  {"token_created", created},
                  {"journal", journal}},
             "zarvo serve: " + url + "\n  token in " + token_path +
                 (created ? " (made now, mode 0600)" : "") + "\n  journal " + journal +
                 "\nCtrl-C ends.");
  std::thread serving([&server] { server.run(); });
  while (!interrupts.wait(1000)) {
  }
  server.stop();
  serving.join();
  station.stop();
  return 0;
}

}  // namespace zarvo::host
