// Windows delivers no signals to threads: a console's Ctrl-C runs a handler
// thread of its own.
#include <utility>

#include "platform/signal_free_thread.h"

namespace zarvo::platform {

std::thread StartThreadWithoutSignals(std::function<void()> run) {
  return std::thread(std::move(run));
}

}  // namespace zarvo::platform
