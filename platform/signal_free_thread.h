// A thread of the library's or of a tool's own that takes none of the signals
// sent to the process (elsewhere than on Windows): they stay with the host's
// threads. A host that blocks Ctrl-C and waits for it would otherwise lose it
// to such a thread, whose default action ends the process.
#pragma once

#include <functional>
#include <thread>

namespace zarvo::platform {

std::thread StartThreadWithoutSignals(std::function<void()> run);

}  // namespace zarvo::platform
