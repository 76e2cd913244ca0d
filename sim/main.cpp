// zarvo-sim: a simulated dispenser line on a pseudo-terminal or a serial device
// (a COM port on Windows).
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "serial/serial_device.h"
#include "sim/run_end.h"
#include "sim/simulator.h"
#if !defined(_WIN32)
#include "sim/pty_simulator.h"
#endif

namespace {

using zarvo::sim::Millis;

struct CommandLine {
  zarvo::sim::Options options;
  bool pty = false;
  std::string device;
};

void add_options(CLI::App& app, CommandLine& cl) {
  auto& model = cl.options.model;
  auto& link = cl.options.link;
  auto& faults = cl.options.faults;
  auto* pty = app.add_flag("--pty", cl.pty,
                           "Open a pseudo-terminal, print its path on one line and serve until "
                           "killed or until standard input closes");
  auto* device = app.add_option("--device", cl.device, "Serve on this serial device");
  pty->excludes(device);
  device->excludes(pty);
  app.add_option("--baud", link.baud, "Line speed")
      ->check(CLI::IsMember(zarvo::serial::kBaudRates))
      ->capture_default_str();
  app.add_option("--line", model.line, "Line number written into the transaction record")
      ->check(CLI::Range(1, 40))
      ->capture_default_str();
  app.add_option("--pumps", model.pumps, "Pumps on the line, addresses 1..N")
      ->check(CLI::Range(1, 32))
      ->capture_default_str();
  app.add_option("--nozzles", model.nozzles, "Nozzles per pump")
      ->check(CLI::Range(1, 6))
      ->capture_default_str();
  app.add_option("--flow", model.flow_lpm, "Flow rate in litres a minute")
      ->check(CLI::Range(0.01, 1000.0))
      ->capture_default_str();
  app.add_flag_callback(
      "--auto", [&model] { model.auto_customer = true; },
      "A simulated customer lifts the nozzle after each start and hangs it up "
      "at the end (the default)");
  app.add_flag_callback(
      "--no-auto", [&model] { model.auto_customer = false; },
      "No simulated customer: nozzles move only through the library");
  app.add_flag("--self-service", model.self_service,
               "Customers fuel on their own, authorized by the pump, whenever it is idle "
               "and released: the host only watches");
  app.add_option_function<int>(
         "--reaction", [&model](int ms) { model.reaction = Millis{ms}; },
         "The simulated customer's reaction time in ms (default 300)")
      ->check(CLI::Range(0, 60000));
  app.add_option_function<int>(
         "--turnaround", [&link](int ms) { link.turnaround = Millis{ms}; },
         "Time from a request to its reply in ms (default 2)")
      ->check(CLI::Range(0, 10000));
  app.add_flag_callback(
      "--no-pacing", [&link] { link.pacing = false; },
      "Send replies at once, and answer without waiting for the request's wire time");
  app.add_option("--drop", faults.drop, "Probability that a reply is lost")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--corrupt", faults.corrupt, "Probability that a reply has a flipped bit")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--silent", faults.silent,
                 "Probability, per request, that the dispenser goes off the line for "
                 "--silent-for ms: it neither hears nor answers anything meanwhile")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option_function<int>(
         "--silent-for", [&faults](int ms) { faults.silent_for = Millis{ms}; },
         "Length of a silent spell in ms (default 2000)")
      ->check(CLI::Range(0, 600000));
  app.add_option("--noise", faults.noise,
                 "Probability that 1 to 8 random bytes (never SYN) precede a reply")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option_function<int>(
         "--delay", [&faults](int ms) { faults.delay = Millis{ms}; },
         "Make replies this many ms late (see --delay-rate)")
      ->check(CLI::Range(0, 600000));
  app.add_option("--delay-rate", faults.delay_rate, "Probability that --delay applies to a reply")
      ->check(CLI::Range(0.0, 1.0))
      ->capture_default_str();
  app.add_option("--seed", faults.seed, "Seed of the fault generator; a seed repeats a run")
      ->capture_default_str();
}

void report(const std::vector<zarvo::sim::Transaction>& record) {
  std::size_t acknowledged = 0;
  for (const auto& t : record) acknowledged += t.acknowledged ? 1 : 0;
  std::cerr << "zarvo-sim: deliveries completed " << record.size() << ", acknowledged "
            << acknowledged << '\n';
}

int run(const CommandLine& cl) {
  zarvo::sim::RunEnd run_end;
  if (cl.pty) {
#if defined(_WIN32)
    throw std::runtime_error(
        "--pty needs pseudo-terminals, which Windows lacks: use --device COMn");
#else
    zarvo::sim::PtySimulator sim(cl.options);
    std::cout << sim.device_path() << std::endl;
    run_end.wait(true, [&sim] { return !sim.error().empty(); });
    if (!sim.error().empty()) throw std::runtime_error(sim.error());
    report(sim.simulator().transactions());
    return 0;
#endif
  }
  // A serial device delivers each request byte after its time on the wire.
  zarvo::sim::Options options = cl.options;
  options.link.instant_input = false;
#if defined(_WIN32)
  // A wait lasts a millisecond at best there, about a byte's time at 9600 baud.
  options.link.output_paced_by_line = true;
#endif
  zarvo::sim::Simulator simulator(options);
  std::unique_ptr<zarvo::serial::ByteStream> line;
  try {
    line = zarvo::serial::open_device(cl.device, static_cast<std::uint32_t>(options.link.baud),
                                      zarvo::serial::Hold::kShared);
  } catch (const zarvo::serial::Error& e) {
    throw std::runtime_error(cl.device + ": " + e.what());
  }
  zarvo::sim::ServingThread serving(simulator, *line);
  run_end.wait(false, [&serving] { return serving.ended(); });
  serving.stop();
  if (!serving.error().empty()) throw std::runtime_error(serving.error());
  report(simulator.transactions());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // The set-up too: a failure anywhere ends with a message, never in std::terminate.
  try {
    CLI::App app{"zarvo-sim: a simulated line of Zarvo dispensers, with fault injection"};
    CommandLine cl;
    add_options(app, cl);
    app.footer("One of --pty or --device is required. Pump states and faults: see sim/README.md.");
    CLI11_PARSE(app, argc, argv);
    if (!cl.pty && cl.device.empty()) {
      std::cerr << "zarvo-sim: give --pty or --device PATH (see --help)\n";
      return 2;
    }
    return run(cl);
  } catch (const std::exception& e) {
    std::cerr << "zarvo-sim: " << e.what() << '\n';
    return 1;
  }
}
