// What a command releases is shown, never lost: while a watch lives, each
// delivery an acknowledgement releases is read just before the
// acknowledgement leaves and, when a journal is given, written to it first
// (a journal that cannot take it keeps the acknowledgement off the line, and
// the pump reports the delivery again).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/output/output.h"
#include "host/session/session.h"
#include "host/tools/delivery_tracker.h"
#include "host/tools/journal.h"

namespace zarvo::host {

class ReleaseWatch {
 public:
  // `journal_path` empty: the deliveries are only reported. Throws
  // std::runtime_error when the journal cannot be opened.
  ReleaseWatch(Session& session, const std::string& journal_path);
  ~ReleaseWatch();
  ReleaseWatch(const ReleaseWatch&) = delete;
  ReleaseWatch& operator=(const ReleaseWatch&) = delete;

  // The deliveries released since the last call, oldest first.
  std::vector<JournalEntry> take() { return gate_.take_written(); }

 private:
  Session& session_;
  std::unique_ptr<Journal> journal_;
  DeliveryGate gate_;
};

// One released delivery as a result: "line 1 pump 4: transaction 5 ended,
// 2.00 l for 100.00", or {"event":"delivery",...}.
void show_released(Output& out, const JournalEntry& entry, int amount_decimals);

}  // namespace zarvo::host
