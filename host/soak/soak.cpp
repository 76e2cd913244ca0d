#include "host/soak/soak.h"

#include <memory>
#include <stdexcept>

#include "host/session/line_threads.h"
#include "host/soak/fault_profile.h"
#include "host/soak/line_soak.h"
#include "host/soak/soak_report.h"
#include "host/tools/delivery_tracker.h"

namespace zarvo::host {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Faster than life: a delivery takes well under a second, a customer reacts at once.
constexpr double kSoakFlowLpm = 1000;
constexpr milliseconds kSoakReaction{5};
constexpr milliseconds kSoakTurnaround{1};
constexpr milliseconds kSoakFirstByte{50};
constexpr milliseconds kSoakInterByte{20};

// Clears the session's listener before the runs it calls into are gone.
class ListenerScope {
 public:
  ListenerScope(Session& session, ExchangeObserver listener) : session_(session) {
    session_.set_listener(std::move(listener));
  }
  ~ListenerScope() { session_.set_listener(nullptr); }
  ListenerScope(const ListenerScope&) = delete;
  ListenerScope& operator=(const ListenerScope&) = delete;

 private:
  Session& session_;
};

}  // namespace

void prepare_soak_session(const SoakOptions& options, SessionOptions& session,
                          bool timeouts_given) {
  if (!session.lines.empty()) {
    throw std::invalid_argument(
        "soak compares with the built-in simulator's record: leave out --line");
  }
  if (!timeouts_given) session.timeouts = {kSoakFirstByte, kSoakInterByte};
  sim::Options& sim = session.simulator;
  sim.link.pacing = false;
  sim.model.pumps = static_cast<int>(options.pumps);
  sim.model.flow_lpm = kSoakFlowLpm;
  sim.model.reaction = kSoakReaction;
  sim.link.turnaround = kSoakTurnaround;
  sim.faults = parse_fault_profile(options.faults, session.timeouts.first_byte);
  sim.faults.seed = options.seed;
}

int soak(const SessionOptions& base, Output& out, const SoakOptions& options) {
  if (!base.lines.empty()) {
    throw std::invalid_argument(
        "soak compares with the built-in simulator's record: leave out --line");
  }
  if (options.lines < 1 || options.lines > kLastLine) {
    throw std::invalid_argument("soak drives 1 to " + std::to_string(kLastLine) + " lines");
  }
  SessionOptions session_options = base;
  const std::vector<std::unique_ptr<BuiltinSimulator>> simulators =
      bind_simulated_lines(session_options, options.lines);
  Session session(session_options, out.err());
  Journal journal(options.journal.empty() ? std::string(":memory:") : options.journal);
  const std::int64_t first_id = journal.last_id();
  SharedJournal shared_journal(journal);
  CompletionTracker tracker;
  std::vector<std::unique_ptr<LineSoak>> runs;
  for (const std::uint32_t line : session.lines()) {
    runs.push_back(
        std::make_unique<LineSoak>(line, session.driver(), shared_journal, tracker, options));
  }
  const auto began = Clock::now();
  {
    const ListenerScope listening(session, [&runs, &tracker](const ExchangeRecord& record) {
      if (record.line >= 1 && record.line <= runs.size()) runs[record.line - 1]->observe(record);
      tracker.observe(record);
    });
    for_each_line_at_once(session.lines(), [&runs](std::uint32_t line) { runs[line - 1]->run(); });
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
  std::vector<SoakedLine> lines;
  for (std::size_t i = 0; i < runs.size(); ++i) lines.push_back({*runs[i], *simulators[i]});
  return report_soak(out, options, seconds, lines, journal.entries_after(first_id));
}

}  // namespace zarvo::host
