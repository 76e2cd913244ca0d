#include "host/commands/scenes.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "host/commands/commands.h"
#include "host/output/pump_state.h"

namespace zarvo::host {

namespace {

void step(Output& out, const char* explanation) {
  out.note(std::string("==> ") + explanation);
}

// Polls until the pump shows its delivery under way.
void wait_for_delivery(const Driver& driver, PumpTarget target) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < deadline) {
    const std::uint8_t state = driver.poll(target.line, target.pump, 0).state;
    if (delivery_active(state) && driver.delivery(target.line, target.pump).volume > 0) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  throw std::runtime_error("the second pump did not start its delivery");
}

}  // namespace

void demo(Session& session, Output& out) {
  const std::uint32_t line = session.lines().front();
  const PumpTarget first{line, 1};
  const PumpTarget second{line, 2};

  step(out,
       "Price: nozzle 1 of pump 1 sells at 50.00 a litre; the pump learns the decimals first.");
  set_price(session, out, first, 1, 50.0);
  step(out, "Poll: the pump's state, as a station host polls it.");
  poll_pump(session, out, first, 0);
  step(out, "Parameter: read back parameter 40, the decimals of money amounts.");
  read_param(session, out, first, 40);
  step(out, "Fuel: authorize 100.00 on pump 1 nozzle 1 and follow the delivery to its end.");
  FuelOrder order;
  order.target = first;
  order.nozzle = 1;
  order.amount = 100.0;
  order.interval_ms = 50;
  fuel(session, out, order);
  step(out, "Delivery: pump 1's last delivery, as the pump and the driver report it.");
  show_delivery(session, out, first);
  step(out, "Totals: the totalizers of pump 1 nozzle 1.");
  show_totals(session, out, first, 1);
  step(out, "Stop: pump 2 starts 20 litres at 45.50 and is stopped while it runs.");
  set_price(session, out, second, 1, 45.5);
  preset(session, out, wire::PresetKind::kVolume, second, 1, 20.0);
  wait_for_delivery(session.driver(), second);
  stop_pump(session, out, second);
  poll_pump(session, out, second, 0);
  show_delivery(session, out, second);
  step(out, "Done: every step went through the driver library and the serial port object.");
}

}  // namespace zarvo::host
