#include "host/soak/record_check.h"

#include <cmath>
#include <cstdio>
#include <map>
#include <tuple>

namespace zarvo::host {

namespace {

bool same_reading(const sim::Transaction& t, const JournalEntry& e) {
  const double scale = std::pow(10.0, t.amount_decimals);
  return std::llround(e.volume * 100) == t.volume_cl && std::llround(e.amount * scale) == t.amount;
}

std::string describe(const sim::Transaction& t) {
  char text[160];
  std::snprintf(text, sizeof text, "line %d pump %d transaction %u (%.2f l for %.*f)", t.line,
                t.pump, static_cast<unsigned>(t.number), static_cast<double>(t.volume_cl) / 100,
                t.amount_decimals,
                static_cast<double>(t.amount) / std::pow(10.0, t.amount_decimals));
  return text;
}

std::string describe(const JournalEntry& e) {
  return "line " + std::to_string(e.line) + " pump " + std::to_string(e.pump) + " transaction " +
         std::to_string(e.transaction) + " (" + reading_text(e.volume) + " l for " +
         reading_text(e.amount) + ")";
}

}  // namespace

SoakVerdict compare_records(const std::vector<sim::Transaction>& delivered,
                            const std::vector<JournalEntry>& journaled) {
  using Key = std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>;
  std::map<Key, std::vector<const JournalEntry*>> entries;
  for (const JournalEntry& e : journaled) entries[{e.line, e.pump, e.transaction}].push_back(&e);
  SoakVerdict verdict;
  const auto note = [&verdict](const std::string& text) {
    if (verdict.details.size() < kSoakDetailsShown) verdict.details.push_back(text);
  };
  for (const sim::Transaction& t : delivered) {
    const auto found = entries.find(
        Key{static_cast<std::uint32_t>(t.line), static_cast<std::uint32_t>(t.pump), t.number});
    if (found == entries.end()) {
      ++verdict.lost;
      note("lost: " + describe(t));
      continue;
    }
    if (found->second.size() > 1) {
      verdict.duplicated += found->second.size() - 1;
      note("journaled " + std::to_string(found->second.size()) + " times: " + describe(t));
    }
    for (const JournalEntry* e : found->second) {
      if (same_reading(t, *e)) continue;
      ++verdict.wrong;
      note("wrong: " + describe(*e) + ", delivered " + describe(t));
    }
    entries.erase(found);
  }
  for (const auto& [key, list] : entries) {
    verdict.wrong += list.size();
    note("journaled, never delivered: " + describe(*list.front()));
  }
  return verdict;
}

SoakVerdict compare_line(std::uint32_t line, const std::vector<sim::Transaction>& delivered,
                         const std::vector<JournalEntry>& journaled) {
  std::vector<JournalEntry> own;
  for (const JournalEntry& e : journaled) {
    if (e.line == line) own.push_back(e);
  }
  return compare_records(delivered, own);
}

}  // namespace zarvo::host
