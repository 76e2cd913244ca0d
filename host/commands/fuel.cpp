// A whole delivery: price, preset, follow to the end, readings and totals.
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "host/commands/commands.h"
#include "host/output/progress_bar.h"
#include "host/output/pump_state.h"
#include "host/session/console.h"

namespace zarvo::host {

namespace {

using Clock = std::chrono::steady_clock;

// A pump that shows no sign of the delivery this long after the preset never started it.
constexpr std::chrono::seconds kStartGrace{5};

std::string reading_text(const Delivery& delivery) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f l  %.2f", delivery.volume, delivery.amount);
  return text;
}

}  // namespace

void fuel(Session& session, Output& out, const FuelOrder& order) {
  if (order.amount.has_value() == order.volume.has_value()) {
    throw std::invalid_argument("fuel needs exactly one of --amount and --volume");
  }
  const Driver& driver = session.driver();
  const auto [line, pump] = order.target;
  if (order.price) driver.set_price(line, pump, order.nozzle, *order.price);
  if (order.amount) {
    driver.preset_amount(line, pump, order.nozzle, *order.amount);
  } else {
    driver.preset_volume(line, pump, order.nozzle, *order.volume);
  }
  const double target = order.amount ? *order.amount : *order.volume;

  ProgressBar bar(out.err(), !out.json() && is_terminal(StandardStream::kError));
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::seconds(order.timeout_s);
  bool started = false;
  Delivery reading;
  for (;;) {
    // Nozzle count 0 leaves the driver's own count alone.
    const std::uint8_t state = driver.poll(line, pump, 0).state;
    reading = driver.delivery(line, pump);
    if (!out.json()) {
      const double done = order.amount ? reading.amount : reading.volume;
      bar.show(target > 0 ? done / target : 1.0, reading_text(reading));
    }
    if (state == ZARVO_PUMP_FAULT) {
      bar.finish();
      throw std::runtime_error("the dispenser reports a fault");
    }
    if (transaction_ended(state)) break;
    if (delivery_active(state)) started = true;
    if (state == ZARVO_PUMP_IDLE && started) break;  // ended and acknowledged between two polls
    const auto now = Clock::now();
    if (!started && now - start > kStartGrace) {
      bar.finish();
      throw std::runtime_error("the pump did not start the delivery (state " +
                               std::to_string(state) + ", " + pump_state_label(state) + ")");
    }
    if (now > deadline) {
      bar.finish();
      throw std::runtime_error("the delivery did not end within " +
                               std::to_string(order.timeout_s) + " s");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(order.interval_ms));
  }
  reading = driver.delivery(line, pump);
  bar.finish();
  const auto totals = driver.totals(line, pump, order.nozzle);

  Json result = Json{{"command", "fuel"},
                     {"line", line},
                     {"pump", pump},
                     {"nozzle", order.nozzle},
                     {"preset", Json{{order.amount ? "amount" : "volume", target}}},
                     {"volume", reading.volume},
                     {"amount", reading.amount}};
  char text[160];
  std::snprintf(text, sizeof text, "line %u pump %u nozzle %u: delivered %.2f l for %.2f", line,
                pump, order.nozzle, reading.volume, reading.amount);
  std::string shown = text;
  if (totals) {
    result["totals"] = Json{{"volume", totals->volume}, {"amount", totals->amount}};
    std::snprintf(text, sizeof text, "\ntotals: volume %.2f l, amount %.2f", totals->volume,
                  totals->amount);
    shown += text;
  } else {
    result["totals"] = nullptr;
    shown += "\ntotals: no reply was taken";
  }
  out.result(result, shown);
}

}  // namespace zarvo::host
