// The system says which pages are committed and readable.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "platform/host_memory.h"

namespace zarvo::platform {
namespace {

constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;

bool readable(const void* address, std::size_t size) {
  auto at = reinterpret_cast<std::uintptr_t>(address);
  const std::uintptr_t end = at + size;
  if (address == nullptr || end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION region{};
    if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0) return false;
    if (region.State != MEM_COMMIT || (region.Protect & PAGE_GUARD) != 0 ||
        (region.Protect & kReadable) == 0) {
      return false;
    }
    at = reinterpret_cast<std::uintptr_t>(region.BaseAddress) + region.RegionSize;
  }
  return true;
}

}  // namespace

bool ReadHostMemory(const void* address, void* out, std::size_t size) {
  if (!readable(address, size)) return false;
  std::memcpy(out, address, size);
  return true;
}

}  // namespace zarvo::platform
