// What a host's driver handle points at. Inside the library only (and tests).
#pragma once

#include <type_traits>

#include "driver/tvm30.h"
#include "zarvo/da30.h"

namespace zarvo {

// The table pointer first, as hosts expect, then our driver.
struct DriverObject {
  zarvo_da30 header;
  TVM30* driver;
};
static_assert(std::is_standard_layout_v<DriverObject>);

TVM30& DriverOf(zarvo_da30* self);

}  // namespace zarvo
