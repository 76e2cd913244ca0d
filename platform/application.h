// The application object of the host's GUI toolkit, as far as the driver
// uses it: the host's window handle, which owns the windows the driver opens.
#pragma once

#include <atomic>

namespace zarvo::platform {

class TApplication {
 public:
  void SetHandle(void* window) { handle_.store(window); }
  void* Handle() const { return handle_.load(); }

 private:
  std::atomic<void*> handle_{nullptr};
};

// One per loaded library, like the toolkit's own application object.
TApplication& Application();

}  // namespace zarvo::platform
