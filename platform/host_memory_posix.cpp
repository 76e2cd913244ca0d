#include <cstring>

#include "platform/host_memory.h"

namespace zarvo::platform {

bool ReadHostMemory(const void* address, void* out, std::size_t size) {
  if (address == nullptr) return false;
  std::memcpy(out, address, size);
  return true;
}

}  // namespace zarvo::platform
