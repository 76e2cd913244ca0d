#include "host/station/station.h"

#include <algorithm>
#include <deque>
#include <map>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "codepage/cp1251.h"
#include "host/output/pump_state.h"
#include "host/station/command_log.h"
#include "host/tools/delivery_tracker.h"
#include "host/tools/journal.h"

namespace zarvo::host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How often a line on which no pump answered is searched again.
constexpr milliseconds kLookAgain{2000};
// The least pause after a sweep that could not ask the line: lines that are
// down are waited for, never asked in a loop.
constexpr milliseconds kIdlePause{100};

// The driver's message, and for a failed exchange the port's reason with it.
std::string error_text(const zarvo::Exception& e, const SerialPort& port, std::uint32_t line,
                       bool exchange_failed) {
  std::string message = driver_message(e);
  if (exchange_failed) {
    if (const std::string why = port.last_error(line); !why.empty()) message += " (" + why + ")";
  }
  return message;
}

// A line whose device failed is not asked again before the port would open it.
bool may_ask(const SerialPort& port, std::uint32_t line) {
  return port.is_open(line) || Clock::now() >= port.reopen_at(line);
}

Json state_event(const PumpView& pump) {
  Json event{{"event", "state"},
             {"line", pump.line},
             {"pump", pump.pump},
             {"state", pump.state},
             {"label", pump_state_label(pump.state)}};
  if (!pump.error.empty()) event["error"] = pump.error;
  return event;
}

bool shown_alike(const PumpView& a, const PumpView& b) {
  return a.line == b.line && a.pump == b.pump && a.state == b.state && a.nozzle == b.nozzle &&
         a.delivery.volume == b.delivery.volume && a.delivery.amount == b.delivery.amount &&
         a.error == b.error;
}

}  // namespace

Json delivery_event(const JournalEntry& entry, std::int64_t journal_id) {
  return Json{{"event", "delivery"},     {"line", entry.line},
              {"pump", entry.pump},      {"transaction", entry.transaction},
              {"volume", entry.volume},  {"amount", entry.amount},
              {"journal_id", journal_id}};
}

const char* outcome_name(Outcome outcome) {
  switch (outcome) {
    case Outcome::kDone:
      return "done";
    case Outcome::kRefused:
      return "refused";
    case Outcome::kNoAnswer:
      return "no answer";
    case Outcome::kRejected:
      return "rejected";
    case Outcome::kFailed:
      return "failed";
    case Outcome::kStopped:
      return "stopped";
  }
  return "failed";
}

// One line as its worker keeps it. The view and the queue are shared under
// the station's mutex; the rest belongs to the worker.
struct Station::Line {
  std::uint32_t number = 0;
  LineView view;
  std::deque<Task> queue;
  std::condition_variable wake;  // a command was queued, or the station stops
  bool ended = false;
  std::uint64_t sweep = 0;  // the sweep under way
  // The worker's own:
  bool search = false;          // the pumps are those found, looked for again while none answer
  Clock::time_point look_at{};  // the next search
  std::vector<std::uint32_t> pumps;
  std::string down;
  std::map<std::uint32_t, PumpView> reported;  // the states last published
};

Station::Station(Session& session, StationOptions options)
    : session_(session),
      options_(std::move(options)),
      driver_name_(utf8_from_cp1251(session.driver().name())) {
  // Two stations on one line would both acknowledge its deliveries.
  for (const std::uint32_t line : session_.lines()) {
    if (session_.port().held_elsewhere(line)) {
      throw std::runtime_error("line " + std::to_string(line) + ": " +
                               session_.port().last_error(line) + ": one monitor a line");
    }
  }
  if (!options_.journal.empty()) journal_ = std::make_unique<Journal>(options_.journal);
  command_log_ = std::make_unique<CommandLog>(options_.journal);
  // A table read, made while the driver's exchange waits at the port.
  gate_ = std::make_unique<DeliveryGate>(
      journal_.get(),
      [this](std::uint32_t line, std::uint32_t pump) {
        return session_.driver().delivery(line, pump);
      },
      [this](const JournalEntry& e, std::int64_t id) {
        delivery_written(e.line, delivery_event(e, id));
      });
  for (const std::uint32_t number : session_.lines()) {
    auto line = std::make_unique<Line>();
    line->number = number;
    line->view.line = number;
    line->view.device = session_.port().device(number);
    line->search = options_.pumps == 0;
    // Pumps given are shown from the start, before their first poll.
    for (std::uint32_t pump = 1; pump <= options_.pumps && pump <= kLastPump; ++pump) {
      line->pumps.push_back(pump);
      line->view.pumps.push_back(PumpView{number, pump, 0, 0, {}, {}, ++revisions_});
    }
    lines_.push_back(std::move(line));
  }
  session_.set_listener([this](const ExchangeRecord& record) { gate_->observe(record); });
  session_.port().set_send_gate([this](std::uint32_t line, std::span<const std::uint8_t> request) {
    gate_->before_send(line, request);
  });
  for (const auto& line : lines_) workers_.emplace_back([this, &line = *line] { work(line); });
}

Station::~Station() {
  stop();
  workers_.clear();  // joins
  // The hooks must not outlive the gate.
  session_.port().set_send_gate(nullptr);
  session_.set_listener(nullptr);
  events_.close();
}

void Station::stop() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  for (const auto& line : lines_) line->wake.notify_all();
  progress_.notify_all();
}

bool Station::stopping() const {
  {
    std::lock_guard lock(mutex_);
    if (stop_) return true;
  }
  return options_.interrupted && options_.interrupted();
}

bool Station::ended() const {
  std::lock_guard lock(mutex_);
  return std::ranges::all_of(lines_, [](const auto& line) { return line->ended; });
}

bool Station::wait_ready(milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return progress_.wait_for(lock, timeout, [this] {
    return std::ranges::all_of(lines_,
                               [](const auto& line) { return line->view.ready || line->ended; });
  });
}

bool Station::wait_for_sweeps(std::uint64_t sweeps, milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  return progress_.wait_for(lock, timeout, [this, sweeps] {
    return std::ranges::all_of(
        lines_, [sweeps](const auto& line) { return line->view.sweeps >= sweeps || line->ended; });
  });
}

std::vector<LineView> Station::lines() const {
  std::lock_guard lock(mutex_);
  std::vector<LineView> views;
  views.reserve(lines_.size());
  for (const auto& line : lines_) views.push_back(line->view);
  return views;
}

std::optional<PumpView> Station::pump(std::uint32_t line, std::uint32_t pump) const {
  std::lock_guard lock(mutex_);
  const Line* found = find(line);
  if (found == nullptr) return std::nullopt;
  for (const PumpView& view : found->view.pumps) {
    if (view.pump == pump) return view;
  }
  return std::nullopt;
}

void Station::show(PumpView& view, PumpView row) {
  row.revision = shown_alike(view, row) ? view.revision : ++revisions_;
  view = std::move(row);
}

Station::Line* Station::find(std::uint32_t line) {
  const auto found =
      std::ranges::find_if(lines_, [line](const auto& entry) { return entry->number == line; });
  return found == lines_.end() ? nullptr : found->get();
}

const Station::Line* Station::find(std::uint32_t line) const {
  const auto found =
      std::ranges::find_if(lines_, [line](const auto& entry) { return entry->number == line; });
  return found == lines_.end() ? nullptr : found->get();
}

std::future<CommandResult> Station::submit(Command command, std::string client) {
  Task task{std::move(command), std::move(client), {}};
  std::future<CommandResult> result = task.promise.get_future();
  std::unique_lock lock(mutex_);
  Line* line = find(task.command.line);
  if (line == nullptr || line->ended || stop_) {
    lock.unlock();
    task.promise.set_value(CommandResult{
        Outcome::kStopped, Json(),
        line == nullptr ? "no line " + std::to_string(task.command.line) : "the station stopped"});
    return result;
  }
  line->queue.push_back(std::move(task));
  line->wake.notify_all();
  return result;
}

void Station::work(Line& line) {
  if (line.search && may_ask(session_.port(), line.number)) search(line);
  line.look_at = Clock::now() + kLookAgain;
  {
    std::lock_guard lock(mutex_);
    line.view.ready = true;
  }
  progress_.notify_all();
  for (std::uint64_t sweep = 1; !stopping(); ++sweep) {
    {
      std::lock_guard lock(mutex_);
      line.sweep = sweep;
    }
    const std::string was_down = line.down;
    this->sweep(line);
    report_sweep(line, was_down);
    {
      std::lock_guard lock(mutex_);
      line.view.sweeps = sweep;
    }
    progress_.notify_all();
    if (options_.sweeps != 0 && sweep >= options_.sweeps) break;
    milliseconds length = options_.interval;
    if (!line.view.exchanged) {
      // Until the line may be asked again: the port's back-off or the next search.
      const SerialPort& port = session_.port();
      auto next = Clock::now() + kLookAgain;
      if (!port.is_open(line.number)) next = std::min(next, port.reopen_at(line.number));
      if (line.search && line.pumps.empty()) next = std::min(next, line.look_at);
      length = std::max({length, kIdlePause, std::chrono::ceil<milliseconds>(next - Clock::now())});
    }
    pause(line, length);
  }
  std::deque<Task> left;
  {
    std::lock_guard lock(mutex_);
    line.ended = true;
    left.swap(line.queue);
  }
  for (Task& task : left) finish(line, task, {Outcome::kStopped, Json(), "the station stopped"});
  progress_.notify_all();
}

void Station::search(Line& line) {
  std::vector<std::uint32_t> found;
  for (std::uint32_t pump = 1; pump <= kLastPump; ++pump) {
    if (stopping() || !may_ask(session_.port(), line.number)) break;
    run_queued(line);
    try {
      session_.driver().read_pump_state(line.number, pump);
      found.push_back(pump);
    } catch (const zarvo::Exception&) {
      // No answer: no pump at this address.
    }
  }
  line.pumps = std::move(found);
  std::lock_guard lock(mutex_);
  line.view.pumps.clear();
  for (const std::uint32_t pump : line.pumps) {
    line.view.pumps.push_back(PumpView{line.number, pump, 0, 0, {}, {}, ++revisions_});
  }
}

void Station::sweep(Line& line) {
  const SerialPort& port = session_.port();
  const std::uint32_t number = line.number;
  bool exchanged = false;
  // A line that is down is searched as soon as the port would open it again.
  if (line.search && line.pumps.empty() && may_ask(port, number) &&
      (!port.is_open(number) || Clock::now() >= line.look_at)) {
    search(line);
    exchanged = true;
    line.look_at = Clock::now() + kLookAgain;
  }
  if (!line.pumps.empty() && may_ask(port, number)) exchanged = true;
  {
    std::lock_guard lock(mutex_);
    line.view.exchanged = exchanged;
  }
  for (std::size_t index = 0; index < line.pumps.size(); ++index) {
    if (stopping()) break;
    run_queued(line);
    poll_pump(line, index);
  }
  if (!port.is_open(number)) {
    line.down = "down: " + port.last_error(number);
  } else if (line.pumps.empty()) {
    line.down =
        "no pump answers; looking again every " + std::to_string(kLookAgain.count() / 1000) + " s";
  } else {
    line.down.clear();
  }
  std::lock_guard lock(mutex_);
  line.view.down = line.down;
}

void Station::poll_pump(Line& line, std::size_t index) {
  const SerialPort& port = session_.port();
  const std::uint32_t number = line.number;
  PumpView row;
  {
    std::lock_guard lock(mutex_);
    row = line.view.pumps.at(index);
  }
  const Delivery previous = row.delivery;
  row.state = 0;
  row.error.clear();
  if (!may_ask(port, number)) {
    row.error = "line down: " + port.last_error(number);
  } else {
    try {
      row.state = session_.driver().poll(number, row.pump, 0).state;
    } catch (const zarvo::ESerialIO& e) {
      row.error = error_text(e, port, number, true);
    } catch (const zarvo::Exception& e) {
      row.error = error_text(e, port, number, false);
    }
  }
  row.delivery = session_.driver().delivery(number, row.pump);
  if (const std::uint32_t nozzle = nozzle_in_state(row.state)) row.nozzle = nozzle;
  std::uint64_t sweep = 0;
  {
    std::lock_guard lock(mutex_);
    show(line.view.pumps.at(index), row);
    if (row.error.empty()) ++line.view.polls;
    sweep = line.sweep;
  }
  const bool moved =
      row.delivery.volume != previous.volume || row.delivery.amount != previous.amount;
  if (row.error.empty() && moved && delivery_active(row.state)) {
    events_.publish(number, sweep,
                    Json{{"event", "progress"},
                         {"line", number},
                         {"pump", row.pump},
                         {"nozzle", row.nozzle},
                         {"volume", row.delivery.volume},
                         {"amount", row.delivery.amount}});
  }
}

void Station::report_sweep(Line& line, const std::string& was_down) {
  std::vector<PumpView> rows;
  std::uint64_t sweep = 0;
  {
    std::lock_guard lock(mutex_);
    rows = line.view.pumps;
    sweep = line.sweep;
  }
  // A line that goes down or comes up is one event; its pumps are reported
  // again once it is up.
  if (was_down.empty() != line.down.empty()) {
    Json event{{"event", "line"}, {"line", line.number}, {"up", line.down.empty()}};
    if (line.down.empty()) {
      event["pumps"] = line.pumps.size();
    } else {
      event["error"] = line.down;
    }
    events_.publish(line.number, sweep, std::move(event));
  }
  for (const PumpView& row : rows) {
    if (!line.down.empty()) {
      line.reported.erase(row.pump);
      continue;
    }
    const auto known = line.reported.find(row.pump);
    if (known == line.reported.end() || known->second.state != row.state ||
        known->second.error != row.error) {
      events_.publish(line.number, sweep, state_event(row));
    }
    line.reported[row.pump] = row;
  }
}

void Station::pause(Line& line, milliseconds length) {
  const auto deadline = Clock::now() + length;
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (!line.queue.empty()) {
      lock.unlock();
      run_queued(line);
      lock.lock();
      continue;
    }
    if (line.wake.wait_until(lock, deadline) == std::cv_status::timeout) break;
  }
}

void Station::run_queued(Line& line) {
  for (;;) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (line.queue.empty()) return;
      task = std::move(line.queue.front());
      line.queue.pop_front();
    }
    finish(line, task, execute(task.command));
  }
}

CommandResult Station::execute(const Command& command) {
  std::ostringstream results, notes;
  Output out(true, results, notes, "UTF-8");
  CommandResult outcome;
  try {
    command.run(session_, out);
    std::string last;
    std::istringstream shown(results.str());
    for (std::string text; std::getline(shown, text);) last = text;
    outcome.result = Json::parse(last, nullptr, false);
  } catch (const Refused& e) {
    // The pump answered and would not: the request and its answer, for the client.
    outcome = {Outcome::kRefused, Json(), e.what()};
  } catch (const zarvo::ESerialIO& e) {
    outcome = {Outcome::kNoAnswer, Json(), error_text(e, session_.port(), command.line, true)};
  } catch (const zarvo::Exception& e) {
    outcome = {Outcome::kRejected, Json(), error_text(e, session_.port(), command.line, false)};
  } catch (const std::exception& e) {
    outcome = {Outcome::kFailed, Json(), e.what()};
  }
  return outcome;
}

void Station::finish(Line& line, Task& task, CommandResult result) {
  const Command& command = task.command;
  try {
    command_log_->record(
        CommandRecord{task.client, command.line, command.pump, json_text(command.request),
                      outcome_name(result.outcome),
                      result.outcome == Outcome::kDone ? json_text(result.result) : result.error});
  } catch (const std::exception& e) {
    result.error += (result.error.empty() ? "" : "; ") + std::string(e.what());
  }
  if (result.outcome == Outcome::kDone && result.result.value("command", "") == "preset") {
    std::lock_guard lock(mutex_);
    for (PumpView& view : line.view.pumps) {
      if (view.pump != command.pump) continue;
      PumpView row = view;
      row.nozzle = result.result.value("nozzle", 0U);
      show(view, std::move(row));
    }
  }
  Json event{{"event", "command"},
             {"line", command.line},
             {"pump", command.pump},
             {"command", command.request},
             {"outcome", outcome_name(result.outcome)}};
  if (!result.error.empty()) event["error"] = result.error;
  std::uint64_t sweep = 0;
  {
    std::lock_guard lock(mutex_);
    sweep = line.sweep;
  }
  events_.publish(line.number, sweep, std::move(event));
  task.promise.set_value(std::move(result));
}

void Station::delivery_written(std::uint32_t line, const Json& event) {
  std::uint64_t sweep = 0;
  {
    std::lock_guard lock(mutex_);
    if (const Line* found = find(line)) sweep = found->sweep;
  }
  events_.publish(line, sweep, event);
}

}  // namespace zarvo::host
