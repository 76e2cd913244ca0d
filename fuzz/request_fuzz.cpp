// Arbitrary bytes on the line into the simulator: the frame reader, the request
// parser and the dispenser model must take anything without crashing.
#include <chrono>
#include <cstdint>

#include "sim/dispenser.h"
#include "sim/frame_reader.h"
#include "sim/request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zarvo::sim::ModelOptions options;
  options.pumps = 32;
  options.nozzles = 6;
  zarvo::sim::Dispenser dispenser(options);
  zarvo::sim::FrameReader reader;
  zarvo::sim::Millis now{0};
  for (std::size_t i = 0; i < size; ++i) {
    reader.push(data[i]);
    // Every byte a millisecond on, with a pause now and then to flush partial frames.
    now += zarvo::sim::Millis(data[i] == 0xFF ? 1000 : 1);
    while (auto payload = reader.next(data[i] == 0xFF)) {
      if (auto request = zarvo::sim::parse_request(*payload)) {
        (void)dispenser.handle(*request, now);
      }
    }
    dispenser.advance_to(now);
  }
  return 0;
}
