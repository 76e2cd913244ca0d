// Faults on the line, drawn from one seeded generator so that a run repeats.
//
// For every request that arrives, in this order:
// - silent: with this probability the dispenser goes off the line for
//   `silent_for`; it neither hears nor answers that request or any other until
//   the spell ends (deliveries go on meanwhile).
// - drop: the request is carried out but its reply is lost.
// - delay: the reply comes `delay` late (with probability `delay_rate`).
// - noise: 1 to 8 random bytes, never SYN, go out just before the reply.
// - corrupt: one bit of the reply is flipped.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "sim/dispenser.h"

namespace zarvo::sim {

struct FaultOptions {
  double drop = 0.0;
  double corrupt = 0.0;
  double silent = 0.0;
  Millis silent_for{2000};
  double noise = 0.0;
  Millis delay{0};
  double delay_rate = 1.0;
  std::uint64_t seed = 1;
};

// What becomes of one request.
struct Fate {
  bool heard = true;     // false: the dispenser is silent
  bool answered = true;  // false: the reply is dropped
  Millis delay{0};
  std::vector<std::uint8_t> noise;
  std::optional<std::size_t> flipped_bit;  // index into the reply's bits, modulo its size
};

// How many requests met each fault so far; a reply may be both noisy and
// corrupted. A silent spell counts every request it swallows.
struct FaultCounts {
  std::uint64_t requests = 0;
  std::uint64_t unheard = 0;
  std::uint64_t silent_spells = 0;
  std::uint64_t dropped = 0;
  std::uint64_t delayed = 0;
  std::uint64_t noisy = 0;
  std::uint64_t corrupted = 0;
};

class FaultInjector {
 public:
  // Throws std::invalid_argument for a probability outside 0..1 or a negative time.
  explicit FaultInjector(const FaultOptions& options);

  Fate on_request(Millis now);
  const FaultCounts& counts() const { return counts_; }

  // Flips the chosen bit of a reply frame.
  static void spoil(std::vector<std::uint8_t>& frame, std::size_t bit);

 private:
  Fate draw(Millis now);
  bool chance(double probability);

  FaultOptions options_;
  std::mt19937_64 random_;
  std::optional<Millis> silent_until_;
  FaultCounts counts_;
};

}  // namespace zarvo::sim
