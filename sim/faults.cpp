#include "sim/faults.h"

#include <stdexcept>

#include "protocol/wire.h"

namespace zarvo::sim {
namespace {
bool is_probability(double p) {
  return p >= 0.0 && p <= 1.0;
}
}  // namespace

FaultInjector::FaultInjector(const FaultOptions& options)
    : options_(options), random_(options.seed) {
  for (const double p :
       {options.drop, options.corrupt, options.silent, options.noise, options.delay_rate}) {
    if (!is_probability(p)) throw std::invalid_argument("fault probabilities must be 0 to 1");
  }
  if (options.delay < Millis{0} || options.silent_for < Millis{0}) {
    throw std::invalid_argument("fault times must not be negative");
  }
}

// Drawn from the generator's raw output, not a distribution, so that every
// standard library repeats the same run for a seed.
bool FaultInjector::chance(double probability) {
  if (probability <= 0.0) return false;
  const double draw = static_cast<double>(random_() >> 11) * 0x1.0p-53;
  return draw < probability;
}

Fate FaultInjector::on_request(Millis now) {
  Fate fate = draw(now);
  ++counts_.requests;
  if (!fate.heard) {
    ++counts_.unheard;
  } else if (!fate.answered) {
    ++counts_.dropped;
  } else {
    if (fate.delay > Millis{0}) ++counts_.delayed;
    if (!fate.noise.empty()) ++counts_.noisy;
    if (fate.flipped_bit) ++counts_.corrupted;
  }
  return fate;
}

Fate FaultInjector::draw(Millis now) {
  Fate fate;
  if (silent_until_ && now < *silent_until_) {
    fate.heard = false;
    return fate;
  }
  silent_until_.reset();
  if (chance(options_.silent)) {
    silent_until_ = now + options_.silent_for;
    ++counts_.silent_spells;
    fate.heard = false;
    return fate;
  }
  if (chance(options_.drop)) {
    fate.answered = false;
    return fate;
  }
  if (options_.delay > Millis{0} && chance(options_.delay_rate)) fate.delay = options_.delay;
  if (chance(options_.noise)) {
    const std::size_t count = 1 + random_() % 8;
    for (std::size_t i = 0; i < count; ++i) {
      // A byte from the 255 values other than SYN.
      auto byte = static_cast<std::uint8_t>(random_() % 255);
      if (byte >= wire::kSyn) ++byte;
      fate.noise.push_back(byte);
    }
  }
  if (chance(options_.corrupt)) fate.flipped_bit = static_cast<std::size_t>(random_() >> 1);
  return fate;
}

void FaultInjector::spoil(std::vector<std::uint8_t>& frame, std::size_t bit) {
  if (frame.empty()) return;
  bit %= frame.size() * 8;
  frame[bit / 8] = static_cast<std::uint8_t>(frame[bit / 8] ^ (1U << (bit % 8)));
}

}  // namespace zarvo::sim
