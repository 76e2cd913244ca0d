// A whole delivery: price, preset, follow to the end, readings and totals.
// Once the pump accepted the start, whatever ends the command early stops the
// pump and follows the delivery to its end first: nothing is left pouring,
// and what was delivered is shown (and journaled) before the command fails.
#include <chrono>
#include <cmath>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "host/commands/commands.h"
#include "host/output/progress_bar.h"
#include "host/output/pump_state.h"
#include "host/session/console.h"
#include "host/tools/release_watch.h"
#include "protocol/frame_text.h"
#include "protocol/wire.h"

namespace zarvo::host {

namespace {

using Clock = std::chrono::steady_clock;

// A pump that shows no sign of the delivery this long after the preset never started it.
constexpr std::chrono::seconds kStartGrace{5};
// How long a line may fail in a row before the delivery on it is given up.
constexpr std::chrono::seconds kLineGrace{10};
// How long a stopped delivery may take to end (its nozzle hung up).
constexpr std::chrono::seconds kEndGrace{30};
constexpr std::uint32_t kRetryMs = 100;

// The pump answered the request "accepted".
bool accepted(const Exchanged& exchange) {
  const auto& reply = exchange.received;
  return reply.size() > wire::kFrame.data && reply[wire::kFrame.letter] == wire::kAnswer &&
         reply[wire::kFrame.data] == wire::kAccepted;
}

// Why the host stopped the delivery; kNone while the pump ends it itself.
enum class Stop { kNone, kInterrupted, kTimedOut, kNotStarted, kFault, kLineFailed };

// One delivery followed by its polls.
class Follower {
 public:
  Follower(Session& session, PumpTarget target) : session_(session), target_(target) {}

  // Polls once; the state, or nothing while the line fails. A line failing
  // longer than kLineGrace keeps its failure.
  std::optional<std::uint8_t> poll() {
    const auto mark = session_.exchange_mark(target_.line);
    try {
      const std::uint8_t state = session_.driver().poll(target_.line, target_.pump, 0).state;
      failing_since_.reset();
      if (transaction_ended(state) || (state == ZARVO_PUMP_IDLE && started_)) ended_ = true;
      started_ = started_ || delivery_active(state);
      stopped_elsewhere_ = stopped_elsewhere_ || stopped_reading(mark);
      return state;
    } catch (const zarvo::Exception&) {
      const auto now = Clock::now();
      if (!failing_since_) failing_since_ = now;
      if (now - *failing_since_ > kLineGrace) failure_ = std::current_exception();
      return std::nullopt;
    }
  }

  bool started() const { return started_; }
  bool ended() const { return ended_; }
  bool stopped_elsewhere() const { return stopped_elsewhere_; }
  const std::exception_ptr& failure() const { return failure_; }
  // A pump stopped before anything flowed is idle, and so done with.
  void end_if_idle(std::uint8_t state) { ended_ = ended_ || state == ZARVO_PUMP_IDLE; }

 private:
  // Live readings in state "stopped": a stop command halted the delivery.
  bool stopped_reading(const ExchangeMark& mark) const {
    for (const Exchanged& e : session_.exchanges_since(mark)) {
      const auto& r = e.received;
      if (r.size() > wire::kDeliveryStateAt && r[wire::kFrame.letter] == wire::kLiveReadings &&
          r[wire::kDeliveryStateAt] == wire::kStopped) {
        return true;
      }
    }
    return false;
  }

  Session& session_;
  PumpTarget target_;
  bool started_ = false;
  bool ended_ = false;
  bool stopped_elsewhere_ = false;
  std::optional<Clock::time_point> failing_since_;
  std::exception_ptr failure_;
};

// The pump's state before anything is sent, through a failing line for as
// long as a delivery would be followed through it.
std::uint8_t state_before(Session& session, PumpTarget target, const InterruptWatch& interrupts) {
  Follower probe(session, target);
  for (;;) {
    if (const auto state = probe.poll()) return *state;
    if (probe.failure()) std::rethrow_exception(probe.failure());
    if (interrupts.wait(kRetryMs)) throw Interrupted();
  }
}

// Stops the pump and follows the delivery to its end, until the time given
// passed or another interrupt came.
void stop_and_follow(const Driver& driver, PumpTarget target, Follower& follower,
                     const InterruptWatch& interrupts, std::chrono::seconds grace) {
  const auto give_up = Clock::now() + grace;
  const std::uint32_t interrupts_before = interrupts.count();
  bool stop_sent = false;
  while (!follower.ended() && Clock::now() < give_up) {
    if (!stop_sent) {
      try {
        driver.stop(target.line, target.pump);
        stop_sent = true;
      } catch (const zarvo::Exception&) {
        // The line failed: try again after the wait.
      }
    }
    if (stop_sent) {
      const auto state = follower.poll();
      if (state && !follower.started()) follower.end_if_idle(*state);
      if (follower.ended()) break;
    }
    if (interrupts.wait_past(interrupts_before, kRetryMs)) break;
  }
}

// How a delivery ended (JSON's "end"), and why it fell short of its preset
// as far as the host knows.
struct Ending {
  std::string name;
  std::string reason;
};

Ending ending(Stop stop, bool short_of_preset, const Follower& follower, std::uint32_t timeout_s) {
  switch (stop) {
    case Stop::kInterrupted:
      return {"interrupted", "stopped on an interrupt"};
    case Stop::kTimedOut:
      return {"timed out", "stopped after " + std::to_string(timeout_s) + " s (--timeout)"};
    case Stop::kNotStarted:
      return {"not started", "the pump did not start it; the authorization was withdrawn"};
    case Stop::kFault:
      return {"fault", "the dispenser reports a fault"};
    case Stop::kLineFailed:
      return {"line failed", "the line failed"};
    case Stop::kNone:
      break;
  }
  if (!short_of_preset) return {"preset", ""};
  if (follower.stopped_elsewhere()) return {"stopped", "a stop command ended it"};
  return {"hung up", "the nozzle was hung up"};
}

}  // namespace

void fuel(Session& session, Output& out, const FuelOrder& order) {
  if (order.amount.has_value() == order.volume.has_value()) {
    throw std::invalid_argument("fuel needs exactly one of --amount and --volume");
  }
  const Driver& driver = session.driver();
  const PumpTarget target = order.target;
  const auto [line, pump] = target;
  const int amount_decimals = session.settings().sum_decimals;
  // From here an interrupt ends a wait, never an exchange.
  const InterruptWatch interrupts;
  ReleaseWatch released(session, order.journal);

  if (order.price) {
    const auto mark = session.exchange_mark(target.line);
    driver.set_price(line, pump, order.nozzle, *order.price);
    session.require_accepted(mark);
  }
  // Whether a delivery ran on the pump before the start: after a start whose
  // answer was lost, a delivery there is this one only when none did.
  const bool busy_before = delivery_active(state_before(session, target, interrupts));
  const auto mark = session.exchange_mark(target.line);
  const auto start_went_out = [&] {
    const auto sent = session.exchanges_since(mark);
    return !sent.empty() && wire::preset_sent(sent.back().sent, amount_decimals).has_value();
  };
  std::exception_ptr unanswered;
  try {
    if (order.amount) {
      driver.preset_amount(line, pump, order.nozzle, *order.amount);
    } else {
      driver.preset_volume(line, pump, order.nozzle, *order.volume);
    }
    session.require_accepted(mark);
  } catch (const zarvo::ESerialIO&) {
    if (busy_before || !start_went_out()) throw;
    unanswered = std::current_exception();  // the polls tell whether the pump took it
  } catch (const Refused&) {
    // A refused start is someone else's delivery: nothing to follow. A start
    // taken after a refused parameter write is withdrawn.
    const auto sent = session.exchanges_since(mark);
    if (start_went_out() && accepted(sent.back())) {
      try {
        driver.stop(line, pump);
      } catch (const zarvo::Exception&) {
        // The refusal is the news; the line's failure would hide it.
      }
    }
    throw;
  }
  double target_value = order.amount ? *order.amount : *order.volume;
  for (const Exchanged& e : session.exchanges_since(mark)) {
    if (const auto start = wire::preset_sent(e.sent, amount_decimals)) target_value = start->value;
  }

  ProgressBar bar(out.err(), !out.json() && is_terminal(StandardStream::kError));
  Follower follower(session, target);
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::seconds(order.timeout_s);
  Stop stop = Stop::kNone;
  while (stop == Stop::kNone) {
    const auto state = follower.poll();
    if (follower.failure()) {
      stop = Stop::kLineFailed;
      break;
    }
    if (state && unanswered) {
      if (!follower.started() && !follower.ended()) std::rethrow_exception(unanswered);
      unanswered = nullptr;  // the pump took the start after all
    }
    if (state) {
      const Delivery reading = driver.delivery(line, pump);
      if (!out.json()) {
        const double done = order.amount ? reading.amount : reading.volume;
        bar.show(
            target_value > 0 ? done / target_value : 1.0,
            fixed_text(reading.volume, 2) + " l  " + fixed_text(reading.amount, amount_decimals));
      }
      if (*state == ZARVO_PUMP_FAULT) stop = Stop::kFault;
      if (follower.ended()) break;
    }
    const auto now = Clock::now();
    if (stop != Stop::kNone) break;
    if (!follower.started() && now - start > kStartGrace) {
      stop = Stop::kNotStarted;
    } else if (now > deadline) {
      stop = Stop::kTimedOut;
    } else if (interrupts.wait(state ? order.interval_ms : kRetryMs)) {
      stop = Stop::kInterrupted;
    }
  }
  if (stop != Stop::kNone) {
    // A line that failed so long gets one more spell, not the whole wait.
    stop_and_follow(driver, target, follower, interrupts,
                    stop == Stop::kLineFailed ? kLineGrace : kEndGrace);
  }
  bar.finish();

  // The delivery as read just before its acknowledgement released it.
  Delivery reading = driver.delivery(line, pump);
  std::optional<std::uint32_t> transaction;
  for (const JournalEntry& entry : released.take()) {
    if (entry.line == line && entry.pump == pump) {
      reading = {entry.volume, entry.amount};
      transaction = entry.transaction;
    } else {
      show_released(out, entry, amount_decimals);
    }
  }
  std::optional<Totals> totals;
  if (follower.ended()) {
    try {
      totals = driver.totals(line, pump, order.nozzle);
    } catch (const zarvo::Exception&) {
      // The delivery is shown all the same.
    }
  }

  const double done = order.amount ? reading.amount : reading.volume;
  const double unit = order.amount ? std::pow(10.0, -amount_decimals) : 0.01;
  const bool short_of_preset = done + unit / 2 < target_value;
  const char* kind = order.amount ? "amount" : "volume";
  const Ending end = ending(stop, short_of_preset, follower, order.timeout_s);
  const std::string target_text =
      order.amount ? fixed_text(target_value, amount_decimals) : fixed_text(target_value, 2);
  Json result = Json{{"command", "fuel"},
                     {"line", line},
                     {"pump", pump},
                     {"nozzle", order.nozzle},
                     {"preset", Json{{kind, target_value}}},
                     {"volume", reading.volume},
                     {"amount", reading.amount},
                     {"end", follower.ended() ? end.name : "not ended"}};
  if (transaction) result["transaction"] = *transaction;
  std::string shown = "line " + std::to_string(line) + " pump " + std::to_string(pump) +
                      " nozzle " + std::to_string(order.nozzle) + ": delivered " +
                      fixed_text(reading.volume, 2) + " l for " +
                      fixed_text(reading.amount, amount_decimals);
  if (!follower.ended()) {
    shown += ", and the delivery has not ended: the pump may still be fuelling";
  } else if (short_of_preset || stop != Stop::kNone) {
    shown += ", short of the preset " + target_text + ": " + end.reason;
  }
  if (totals) {
    result["totals"] = Json{{"volume", totals->volume}, {"amount", totals->amount}};
    shown += "\ntotals: volume " + fixed_text(totals->volume, 2) + " l, amount " +
             fixed_text(totals->amount, amount_decimals);
  } else {
    result["totals"] = nullptr;
    shown += "\ntotals: no reply was taken";
  }
  out.result(result, shown);

  switch (stop) {
    case Stop::kNone:
      return;
    case Stop::kInterrupted:
      throw Interrupted();
    case Stop::kTimedOut:
      throw std::runtime_error("the delivery did not end within " +
                               std::to_string(order.timeout_s) + " s");
    case Stop::kNotStarted:
      throw std::runtime_error("the pump did not start the delivery");
    case Stop::kFault:
      throw std::runtime_error("the dispenser reports a fault");
    case Stop::kLineFailed:
      std::rethrow_exception(follower.failure());
  }
}

}  // namespace zarvo::host
