#include "host/output/pump_state.h"

#include "protocol/frame_text.h"

namespace zarvo::host {

namespace {

using wire::nozzle_text;

constexpr unsigned kMaxNozzle = wire::kStatusChars;

// The nozzle a "base + k" state carries, or 0 when the state is no such code.
unsigned nozzle_of(std::uint8_t state, unsigned base) {
  return state > base && state <= base + kMaxNozzle ? state - base : 0;
}

}  // namespace

std::string pump_state_label(std::uint8_t state) {
  switch (state) {
    case ZARVO_PUMP_NOTHING_DECODED:
      return "nothing decoded yet";
    case ZARVO_PUMP_ENDED_IDLE:
      return "idle, transaction ended";
    case ZARVO_PUMP_IDLE:
      return "idle";
    case ZARVO_PUMP_TRANSACTION_ENDED:
      return "ended, awaiting acknowledgement";
    case ZARVO_PUMP_AUTHORIZED + 1:
      return "fuelling (or nozzle 1 authorized)";
    case ZARVO_PUMP_AUTHORIZED + 2:
      return "stopped (or nozzle 2 authorized)";
    case ZARVO_PUMP_ANSWER:
      return "command accepted";
    case ZARVO_PUMP_ANSWER + 1:
      return "command refused (or nozzle 1 lifted)";
    case ZARVO_PUMP_FAULT:
      return "dispenser fault";
    default:
      break;
  }
  if (const unsigned k = nozzle_of(state, ZARVO_PUMP_AUTHORIZED)) {
    return nozzle_text(k, "authorized");
  }
  if (const unsigned k = nozzle_of(state, ZARVO_PUMP_LIFTED)) return nozzle_text(k, "lifted");
  if (const unsigned k = nozzle_of(state, ZARVO_PUMP_LIFTED_AUTHORIZED)) {
    return nozzle_text(k, "lifted and authorized");
  }
  return "code " + std::to_string(state);
}

std::uint32_t nozzle_in_state(std::uint8_t state) {
  if (state == ZARVO_PUMP_AUTHORIZED + 1 || state == ZARVO_PUMP_AUTHORIZED + 2) return 0;
  for (const unsigned base :
       {ZARVO_PUMP_AUTHORIZED, ZARVO_PUMP_LIFTED, ZARVO_PUMP_LIFTED_AUTHORIZED}) {
    if (const unsigned k = nozzle_of(state, base)) return k;
  }
  return 0;
}

bool delivery_active(std::uint8_t state) {
  return nozzle_of(state, ZARVO_PUMP_AUTHORIZED) != 0 ||
         nozzle_of(state, ZARVO_PUMP_LIFTED_AUTHORIZED) != 0;
}

bool transaction_ended(std::uint8_t state) {
  return state == ZARVO_PUMP_ENDED_IDLE || state == ZARVO_PUMP_TRANSACTION_ENDED;
}

}  // namespace zarvo::host
