#include "host/session/session.h"

#include "protocol/frame_text.h"
#include "protocol/wire.h"

namespace zarvo::host {

using wire::describe_reply;
using wire::describe_request;
using wire::hex_bytes;

namespace {

// A command judges its own exchanges, a few on its line; 64 leave room.
constexpr std::size_t kRecentExchanges = 64;

}  // namespace

std::vector<std::unique_ptr<BuiltinSimulator>> bind_simulated_lines(SessionOptions& options,
                                                                    std::uint32_t count) {
  std::vector<std::unique_ptr<BuiltinSimulator>> simulators;
  for (std::uint32_t line = 1; line <= count; ++line) {
    sim::Options sim = options.simulator;
    sim.model.line = static_cast<int>(line);
    sim.faults.seed += line - 1;
    simulators.push_back(std::make_unique<BuiltinSimulator>(sim));
    options.lines.emplace_back(line, simulators.back()->device_path());
    if (DeviceOpener opener = simulators.back()->opener()) {
      options.openers[simulators.back()->device_path()] = std::move(opener);
    }
  }
  return simulators;
}

Session::Session(const SessionOptions& options, std::ostream& diagnostics)
    : diagnostics_(diagnostics),
      trace_(options.trace),
      library_(options.library.empty() ? default_library_path() : options.library),
      settings_(read_driver_settings()),
      port_(options.timeouts) {
  for (const auto& [line, device] : options.lines) {
    const auto opener = options.openers.find(device);
    port_.bind(line, device, opener == options.openers.end() ? DeviceOpener() : opener->second);
    lines_.push_back(line);
  }
  if (lines_.empty()) {
    simulator_ = std::make_unique<BuiltinSimulator>(options.simulator);
    port_.bind(1, simulator_->device_path(), simulator_->opener());
    lines_.push_back(1);
    diagnostics_ << "zarvo: no --line given: line 1 is the built-in simulator on "
                 << simulator_->device_path() << '\n';
  }
  port_.set_observer([this](const ExchangeRecord& record) { observe(record); });
  driver_ = std::make_unique<Driver>(library_.get_da30(), options.window, port_.port());
  // Open every line through the driver now, so that a wrong device shows at once;
  // a line that fails is tried again on its first exchange.
  for (const std::uint32_t line : lines_) {
    if (driver_->open_line(line) != 0) {
      diagnostics_ << "zarvo: line " << line << ": " << port_.last_error(line) << '\n';
    }
  }
}

Session::History* Session::history(std::uint32_t line) {
  return line >= kFirstLine && line <= kLastLine ? &history_[line - kFirstLine] : nullptr;
}

const Session::History* Session::history(std::uint32_t line) const {
  return line >= kFirstLine && line <= kLastLine ? &history_[line - kFirstLine] : nullptr;
}

void Session::remember(const ExchangeRecord& record) {
  History* kept = history(record.line);
  if (kept == nullptr) return;
  const bool taken = record.result == PortResult::kOk;
  kept->recent.push_back(
      Exchanged{record.line,
                {record.sent.begin(), record.sent.end()},
                taken ? std::vector<std::uint8_t>(record.received.begin(), record.received.end())
                      : std::vector<std::uint8_t>()});
  if (kept->recent.size() > kRecentExchanges) kept->recent.pop_front();
  ++kept->count;
  const auto& reply = kept->recent.back().received;
  if (reply.size() <= wire::kFrame.letter) return;
  const std::uint8_t letter = reply[wire::kFrame.letter];
  const std::uint8_t pump = reply[wire::kFrame.address];
  if ((letter == wire::kLiveReadings || letter == wire::kEndedDelivery) && pump >= 1 &&
      pump <= kept->readings.size()) {
    kept->readings[pump - 1] = true;
  }
}

Session::~Session() {
  // The driver goes before the port it calls and the library it lives in.
  driver_.reset();
  port_.set_observer(nullptr);
}

void Session::set_listener(ExchangeObserver listener) {
  std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

std::string Session::last_failure() const {
  std::lock_guard lock(mutex_);
  return last_failure_;
}

bool Session::last_failure_held_elsewhere() const {
  std::lock_guard lock(mutex_);
  return last_failure_held_elsewhere_;
}

void Session::reset_failure() {
  std::lock_guard lock(mutex_);
  last_failure_.clear();
  last_failure_held_elsewhere_ = false;
}

ExchangeMark Session::exchange_mark(std::uint32_t line) const {
  std::lock_guard lock(mutex_);
  const History* kept = history(line);
  return ExchangeMark{line, kept == nullptr ? 0 : kept->count};
}

std::vector<Exchanged> Session::exchanges_since(const ExchangeMark& mark) const {
  std::lock_guard lock(mutex_);
  const History* kept = history(mark.line);
  if (kept == nullptr) return {};
  const std::uint64_t kept_from = kept->count - kept->recent.size();
  const auto skip =
      static_cast<std::ptrdiff_t>(mark.count > kept_from ? mark.count - kept_from : 0);
  return skip >= static_cast<std::ptrdiff_t>(kept->recent.size())
             ? std::vector<Exchanged>()
             : std::vector<Exchanged>(kept->recent.begin() + skip, kept->recent.end());
}

std::vector<Exchanged> Session::require_accepted(const ExchangeMark& mark) const {
  std::vector<Exchanged> exchanges = exchanges_since(mark);
  for (const Exchanged& e : exchanges) {
    const auto& reply = e.received;
    if (e.sent.size() <= wire::kFrame.letter || e.sent[wire::kFrame.letter] == wire::kAcknowledge ||
        reply.size() <= wire::kFrame.data || reply[wire::kFrame.letter] != wire::kAnswer ||
        reply[wire::kFrame.data] == wire::kAccepted) {
      continue;
    }
    throw Refused("the pump refused it (answer " +
                  std::string(1, static_cast<char>(reply[wire::kFrame.data])) +
                  "): " + describe_request(e.sent));
  }
  return exchanges;
}

bool Session::readings_reported(std::uint32_t line, std::uint32_t pump) const {
  std::lock_guard lock(mutex_);
  const History* kept = history(line);
  return kept != nullptr && pump >= 1 && pump <= kept->readings.size() && kept->readings[pump - 1];
}

void Session::observe(const ExchangeRecord& record) {
  std::lock_guard lock(mutex_);
  if (record.result != PortResult::kOk) {
    last_failure_ = "line " + std::to_string(record.line) + ": " + port_.last_error(record.line);
    last_failure_held_elsewhere_ = port_.held_elsewhere(record.line);
  }
  remember(record);
  if (trace_) {
    const std::string line = "line " + std::to_string(record.line) + " ";
    if (!record.transmitted) {
      diagnostics_ << line << "not sent (" << describe_request(record.sent)
                   << "): " << port_.last_error(record.line) << '\n';
      diagnostics_.flush();
      if (listener_) listener_(record);
      return;
    }
    diagnostics_ << line << '[' << hex_bytes(record.sent) << "] " << describe_request(record.sent)
                 << '\n';
    if (record.skipped > 0)
      diagnostics_ << line << "skipped " << record.skipped << " noise bytes\n";
    if (record.strays > 0)
      diagnostics_ << line << "ignored " << record.strays << " late replies from another pump\n";
    if (!record.received.empty()) {
      diagnostics_ << line << '<' << hex_bytes(record.received) << "> "
                   << (record.result == PortResult::kOk ? describe_reply(record.received)
                                                        : describe(record.result))
                   << '\n';
    } else if (record.result != PortResult::kOk) {
      diagnostics_ << line << "<> " << describe(record.result) << '\n';
    }
    diagnostics_.flush();
  }
  if (listener_) listener_(record);
}

}  // namespace zarvo::host
