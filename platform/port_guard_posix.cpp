// Without structured exceptions a host's port fails only by C++ exceptions,
// which ReturnsNormally catches itself.
#include "platform/port_guard.h"

namespace zarvo::platform {

bool RunUnderStructuredGuard(GuardedBody body, void* context) noexcept {
  body(context);
  return true;
}

}  // namespace zarvo::platform
