// What the driver's pump state codes mean for the simulator and this host.
// The driver files them from replies without interpreting them:
//   0 nothing decoded yet; 1 idle after an ended transaction; 192 idle;
//   216 ended, awaiting acknowledgement; 216+k nozzle k authorized (217 also
//   "fuelling" and 218 "stopped" from live readings); 224 command accepted;
//   224+k nozzle k lifted (225 also "command refused"); 232+k nozzle k lifted
//   and authorized; 255 dispenser fault.
#pragma once

#include <cstdint>
#include <string>

namespace zarvo::host {

std::string pump_state_label(std::uint8_t state);

// The delivery on the pump is under way (authorized, lifted or fuelling).
bool delivery_active(std::uint8_t state);
// The pump reported the end of a transaction.
bool transaction_ended(std::uint8_t state);

}  // namespace zarvo::host
