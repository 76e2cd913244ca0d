// The station: one object that owns the lines of a session while it runs.
// A worker a line polls the line's pumps without pause (or with the pause
// asked for) and runs the commands queued for the line between two polls, so
// calls for one line never overlap and a command waits at most one poll.
// Every ended delivery goes through the journal's gate before the
// acknowledgement that releases it leaves; whatever happens becomes a
// numbered event. The terminal monitor and the HTTP service are views of it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/output/output.h"
#include "host/session/session.h"
#include "host/station/events.h"

namespace zarvo::host {

class CommandLog;
class DeliveryGate;
class Journal;
struct JournalEntry;

// A delivery the journal holds, as the station's event tells it.
Json delivery_event(const JournalEntry& entry, std::int64_t journal_id);

struct StationOptions {
  std::uint32_t pumps = 0;                // pumps 1..N on each line; 0 finds those that answer
  std::chrono::milliseconds interval{0};  // pause between two sweeps of a line
  std::uint64_t sweeps = 0;               // sweeps of each line before it ends; 0 until stopped
  std::string journal;                    // SQLite file; empty keeps the deliveries in memory
  // Asked between exchanges: true ends the station (an interrupt).
  std::function<bool()> interrupted;
};

// What the station knows of one pump.
struct PumpView {
  std::uint32_t line = 0;
  std::uint32_t pump = 0;
  std::uint8_t state = 0;
  std::uint32_t nozzle = 0;  // the nozzle the state or the last preset names; 0 for none
  Delivery delivery;         // the running delivery, or the last
  std::string error;         // why the last poll failed; empty when it answered
  // Changes whenever any of the above does, and only then: a view's text
  // written for one revision stands for every view of it.
  std::uint64_t revision = 0;
};

struct LineView {
  std::uint32_t line = 0;
  std::string device;
  bool ready = false;        // the pumps are known (given, or searched once)
  std::string down;          // why the line is down or silent; empty while pumps answer
  bool exchanged = false;    // the last sweep asked the line
  std::uint64_t sweeps = 0;  // completed
  std::uint64_t polls = 0;   // answered
  std::vector<PumpView> pumps;
};

enum class Outcome { kDone, kRefused, kNoAnswer, kRejected, kFailed, kStopped };
// "done", "refused", "no answer", "rejected", "failed", "stopped".
const char* outcome_name(Outcome outcome);

// NOLINTNEXTLINE(bugprone-exception-escape): moving a Json never throws; the check cannot see it
struct CommandResult {
  Outcome outcome = Outcome::kDone;
  Json result;        // what `zarvo --json` shows for the command
  std::string error;  // UTF-8, for a person
};

// A command for one line. `run` reports one result on the Output it is given.
// NOLINTNEXTLINE(bugprone-exception-escape): as CommandResult
struct Command {
  std::uint32_t line = 0;
  std::uint32_t pump = 0;  // 0: the whole line
  Json request;            // what was asked, as recorded
  std::function<void(Session&, Output&)> run;
};

class Station {
 public:
  // Takes the session's exchange hooks while it lives. Throws
  // std::runtime_error when a line is held by another process or the
  // journal cannot be opened.
  Station(Session& session, StationOptions options);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Ends every worker after its current exchange; queued commands end "stopped".
  void stop();
  // Every worker has ended (stopped, interrupted, or its sweeps done).
  bool ended() const;

  // Waits until every line knows its pumps, at most `timeout`.
  bool wait_ready(std::chrono::milliseconds timeout) const;
  // Waits until every line has completed `sweeps` sweeps or ended, at most `timeout`.
  bool wait_for_sweeps(std::uint64_t sweeps, std::chrono::milliseconds timeout) const;

  const std::vector<std::uint32_t>& line_numbers() const { return session_.lines(); }
  std::vector<LineView> lines() const;
  std::optional<PumpView> pump(std::uint32_t line, std::uint32_t pump) const;
  EventLog& events() { return events_; }
  const Session& session() const { return session_; }
  // The driver's name in UTF-8, read once before the workers start.
  const std::string& driver_name() const { return driver_name_; }
  const std::string& journal_path() const { return options_.journal; }

  // Queues the command on its line; `client` names who asked, for the record.
  std::future<CommandResult> submit(Command command, std::string client);

 private:
  struct Task {
    Command command;
    std::string client;
    std::promise<CommandResult> promise;
  };
  struct Line;

  bool stopping() const;
  void work(Line& line);
  void search(Line& line);
  void sweep(Line& line);
  void poll_pump(Line& line, std::size_t index);
  void run_queued(Line& line);
  void pause(Line& line, std::chrono::milliseconds length);
  void report_sweep(Line& line, const std::string& was_down);
  CommandResult execute(const Command& command);
  void finish(Line& line, Task& task, CommandResult result);
  void delivery_written(std::uint32_t line, const Json& event);
  // Puts `row` in `view`, with a new revision when it shows something new.
  void show(PumpView& view, PumpView row);  // under mutex_
  Line* find(std::uint32_t line);
  const Line* find(std::uint32_t line) const;

  Session& session_;
  StationOptions options_;
  std::string driver_name_;
  EventLog events_;
  std::unique_ptr<Journal> journal_;
  std::unique_ptr<DeliveryGate> gate_;
  std::unique_ptr<CommandLog> command_log_;
  std::vector<std::unique_ptr<Line>> lines_;
  mutable std::mutex mutex_;  // the views, the queues, the counters
  mutable std::condition_variable progress_;
  bool stop_ = false;
  std::uint64_t revisions_ = 0;  // the last revision given to a pump's view
  std::vector<std::jthread> workers_;
};

}  // namespace zarvo::host
