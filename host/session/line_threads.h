// One thread per line: a station polls its lines at the same time, since each
// exchange spends nearly all of its time waiting for the wire.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace zarvo::host {

// Runs `work(line)` for every line on a thread of its own and returns when all
// have ended. The first exception thrown (in the order of `lines`) is rethrown
// here after every thread has ended.
void for_each_line_at_once(const std::vector<std::uint32_t>& lines,
                           const std::function<void(std::uint32_t)>& work);

}  // namespace zarvo::host
