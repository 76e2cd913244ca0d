// A soak's check: each line's journal entries held against what that line's
// simulator delivered, matched by line, pump and transaction number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/tools/journal.h"
#include "sim/dispenser.h"

namespace zarvo::host {

// At most this many findings are told in words, the first found.
inline constexpr std::size_t kSoakDetailsShown = 10;

struct SoakVerdict {
  std::uint64_t lost = 0;        // completed by the simulator, never journaled
  std::uint64_t duplicated = 0;  // journal entries beyond the first for one transaction
  std::uint64_t wrong = 0;       // readings that differ, or entries for no transaction
  std::vector<std::string> details;
  bool clean() const { return lost == 0 && duplicated == 0 && wrong == 0; }
};

// Matches the simulator's transactions with the journal by line, pump and
// transaction number.
SoakVerdict compare_records(const std::vector<sim::Transaction>& delivered,
                            const std::vector<JournalEntry>& journaled);

// Holds the journal entries of one line, out of all lines' entries, against
// that line's simulator.
SoakVerdict compare_line(std::uint32_t line, const std::vector<sim::Transaction>& delivered,
                         const std::vector<JournalEntry>& journaled);

}  // namespace zarvo::host
