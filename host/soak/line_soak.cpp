#include "host/soak/line_soak.h"

namespace zarvo::host {

namespace {

// After the budget, exchanges allowed for the running deliveries to end.
constexpr std::uint64_t kDrainExchanges = 5000;

}  // namespace

LineSoak::LineSoak(std::uint32_t line, const Driver& driver, SharedJournal& journal,
                   CompletionTracker& tracker, const SoakOptions& options)
    : line_(line),
      driver_(driver),
      journal_(journal),
      tracker_(tracker),
      options_(options),
      random_(options.seed + line - 1) {
  for (std::uint32_t pump = 1; pump <= options.pumps; ++pump) pumps_.push_back({pump});
}

void LineSoak::observe(const ExchangeRecord& record) {
  ++exchanges_;
  ++results_[record.result];
  strays_ += record.strays;
}

void LineSoak::run() {
  while (exchanges_ < options_.exchanges) {
    for (PumpRun& pump : pumps_) {
      if (exchanges_ >= options_.exchanges) break;
      step(pump, true);
    }
  }
  // No new deliveries; those running end and are acknowledged.
  const std::uint64_t limit = exchanges_ + kDrainExchanges;
  while (busy_pumps() > 0 && exchanges_ < limit) {
    for (PumpRun& pump : pumps_) {
      if (pump.phase != Phase::kReady) step(pump, false);
    }
  }
}

std::size_t LineSoak::busy_pumps() const {
  std::size_t busy = 0;
  for (const PumpRun& pump : pumps_) busy += pump.phase == Phase::kReady ? 0 : 1;
  return busy;
}

template <class F>
bool LineSoak::guarded(F&& call) {
  try {
    call();
    return true;
  } catch (const zarvo::Exception& e) {
    ++failures_[driver_message(e)];
  } catch (...) {
    // The driver raises nothing else; anything else is a defect.
    ++crashes_;
  }
  return false;
}

void LineSoak::step(PumpRun& pump, bool may_start) {
  if (pump.phase == Phase::kReady) {
    if (may_start) start(pump);
    return;
  }
  std::uint8_t state = 0;
  const bool polled = guarded([&] { state = driver_.poll(line_, pump.pump, 0).state; });
  journal_completion(pump);
  if (!polled || state != ZARVO_PUMP_IDLE) return;
  // Idle with the preset still unreported: it never reached the pump, or was refused.
  if (pump.phase == Phase::kRunning) ++not_started_;
  pump.phase = Phase::kReady;
}

void LineSoak::start(PumpRun& pump) {
  const auto nozzle = static_cast<std::uint32_t>(1 + draw(2));
  // Prices 5.00 to 9.99 and whole amounts fit every decimals setting.
  if (draw(4) == 0) {
    const double price = static_cast<double>(500 + draw(500)) / 100;
    guarded([&] { driver_.set_price(line_, pump.pump, nozzle, price); });
  }
  if (draw(2) == 0) {
    const auto amount = static_cast<double>(5 + draw(56));
    guarded([&] { driver_.preset_amount(line_, pump.pump, nozzle, amount); });
  } else {
    const double volume = static_cast<double>(50 + draw(551)) / 100;
    guarded([&] { driver_.preset_volume(line_, pump.pump, nozzle, volume); });
  }
  ++presets_;
  pump.phase = Phase::kRunning;
  journal_completion(pump);
}

void LineSoak::journal_completion(PumpRun& pump) {
  const auto transaction = tracker_.take(line_, pump.pump);
  if (!transaction) return;
  const Delivery reading = driver_.delivery(line_, pump.pump);
  journal_.record({line_, pump.pump, *transaction, reading.volume, reading.amount});
  ++journaled_;
  pump.phase = Phase::kSettling;
}

}  // namespace zarvo::host
