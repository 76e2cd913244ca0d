// What the driver's pump states mean for this host's output. The codes are
// da30.h's ZARVO_PUMP_*; docs/HOSTS.md lists them for host authors.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/wire.h"

namespace zarvo::host {

// A state as ReadPumpState returns it. Some codes are shared by two replies:
// 217 is "fuelling" from live readings and "nozzle 1 authorized" from a status.
std::string pump_state_label(std::uint8_t state);

// The nozzle a state names (lifted, authorized), 0 when it names none or
// is ambiguous (217 and 218 are also fuelling and stopped).
std::uint32_t nozzle_in_state(std::uint8_t state);

// The delivery on the pump is under way (authorized, lifted or fuelling).
bool delivery_active(std::uint8_t state);
// The pump reported the end of a transaction.
bool transaction_ended(std::uint8_t state);

}  // namespace zarvo::host
