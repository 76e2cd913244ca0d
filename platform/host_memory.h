// Reading an object of the host's that the driver cannot vouch for: a menu
// item that may be another toolkit's.
#pragma once

#include <cstddef>

namespace zarvo::platform {

// Copies size bytes from address when all of them are readable; false, with
// nothing read, when any is not. The host keeps its objects alive meanwhile.
// Without a way to ask the system (POSIX), it reads them as they are.
bool ReadHostMemory(const void* address, void* out, std::size_t size);

}  // namespace zarvo::platform
