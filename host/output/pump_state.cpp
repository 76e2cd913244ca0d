#include "host/output/pump_state.h"

namespace zarvo::host {

std::string pump_state_label(std::uint8_t state) {
  switch (state) {
    case 0:
      return "nothing decoded yet";
    case 1:
      return "idle, transaction ended";
    case 192:
      return "idle";
    case 216:
      return "ended, awaiting acknowledgement";
    case 217:
      return "fuelling (or nozzle 1 authorized)";
    case 218:
      return "stopped (or nozzle 2 authorized)";
    case 224:
      return "command accepted";
    case 225:
      return "command refused (or nozzle 1 lifted)";
    case 255:
      return "dispenser fault";
    default:
      break;
  }
  if (state >= 219 && state <= 222) return "nozzle " + std::to_string(state - 216) + " authorized";
  if (state >= 226 && state <= 230) return "nozzle " + std::to_string(state - 224) + " lifted";
  if (state >= 233 && state <= 238) {
    return "nozzle " + std::to_string(state - 232) + " lifted and authorized";
  }
  return "code " + std::to_string(state);
}

bool delivery_active(std::uint8_t state) {
  return (state >= 217 && state <= 222) || (state >= 233 && state <= 238);
}

bool transaction_ended(std::uint8_t state) {
  return state == 1 || state == 216;
}

}  // namespace zarvo::host
