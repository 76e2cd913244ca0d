#include "host/serve/serve.h"

#include <CLI/CLI.hpp>

#include <stdexcept>

#include "host/commands/checks.h"

namespace zarvo::host {

CLI::App* add_serve_options(CLI::App& app, ServeOptions& options) {
  auto* cmd = app.add_subcommand(
      "serve",
      "serve the lines over HTTP: a JSON API with live events and a web page, behind a token");
  cmd->add_option("--listen", options.listen,
                  "HOST:PORT to listen on (a loopback address unless "
                  "TLS or --insecure)")
      ->capture_default_str();
  cmd->add_option("--token-file", options.token_file,
                  "the bearer token's file, made (mode 0600) when missing "
                  "(default: $XDG_CONFIG_HOME/zarvo/token)");
  auto* cert = cmd->add_option("--tls-cert", options.tls_cert, "serve HTTPS: the certificate (PEM)")
                   ->check(CLI::ExistingFile);
  auto* key = cmd->add_option("--tls-key", options.tls_key, "serve HTTPS: its private key (PEM)")
                  ->check(CLI::ExistingFile);
  cert->needs(key);
  key->needs(cert);
  cmd->add_option("--journal", options.journal,
                  "SQLite journal of deliveries and commands (default: journal.db beside the "
                  "token file)");
  cmd->add_flag("--insecure", options.insecure,
                "allow plain HTTP on an address other than loopback (the token travels in clear)");
  cmd->add_option("--request-timeout", options.request_timeout_s,
                  "seconds a request may take to arrive, however slowly its bytes come")
      ->transform(between(1, 300))
      ->capture_default_str();
  cmd->add_option("--pumps", options.pumps, "pumps 1..N on each line (0: find them)")
      ->transform(between(0, 32));
  cmd->add_option("--simulated-lines", options.simulated_lines,
                  "without --line: this many built-in simulated lines")
      ->transform(between(1, 40))
      ->capture_default_str();
  return cmd;
}

bool loopback_host(const std::string& host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

std::pair<std::string, int> split_listen(const std::string& listen) {
  const auto colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == listen.size()) {
    throw std::invalid_argument("--listen: expected HOST:PORT, got '" + listen + "'");
  }
  std::string host = listen.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  int port = -1;
  try {
    std::size_t used = 0;
    port = std::stoi(listen.substr(colon + 1), &used);
    if (used != listen.size() - colon - 1) port = -1;
  } catch (const std::logic_error&) {
    port = -1;
  }
  if (port < 0 || port > 65535) {
    throw std::invalid_argument("--listen: the port in '" + listen + "' is not 0..65535");
  }
  return {host, port};
}

}  // namespace zarvo::host
