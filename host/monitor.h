// The live table of every pump of every line, each line polled on its own
// thread, and the journal of deliveries.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/output.h"
#include "host/serial_port.h"
#include "host/session.h"

namespace zarvo::host {

struct MonitorOptions {
  std::uint32_t pumps = 0;          // pumps 1..N on each line; 0 finds those that answer
  std::uint32_t interval_ms = 500;  // between refreshes
  std::uint32_t cycles = 0;         // refreshes before ending; 0 until interrupted
  std::string journal;              // SQLite file; empty for none
};

void monitor(Session& session, Output& out, const MonitorOptions& options);

// Learns of completed transactions from the acknowledgements the driver
// sends: each releases one transaction, so each is one delivery. A repeated
// acknowledgement of the same number (after a failed exchange) counts once.
// The acknowledgement of a totals reply releases no delivery, and one that
// follows an ended-delivery reply from another pump, or with another number,
// carries no number of that delivery (the pump reports it again): neither
// counts. Lines observe from their own threads.
class CompletionTracker {
 public:
  void observe(const ExchangeRecord& record);
  // The transaction completed on the pump since the last call, if any.
  std::optional<std::uint32_t> take(std::uint32_t line, std::uint32_t pump);

 private:
  struct PumpSlot {
    std::optional<std::uint32_t> pending;
    std::optional<std::uint32_t> last_taken;
  };
  // The reply that the line's last exchange other than an acknowledgement took.
  struct LastReply {
    std::uint8_t type = 0;
    std::uint8_t address = 0;
    std::uint32_t number = 0;
  };
  PumpSlot* slot(std::uint32_t line, std::uint32_t pump);
  bool releases_delivery(const LastReply& reply, std::uint8_t address, std::uint32_t number) const;
  std::mutex mutex_;
  std::array<std::array<PumpSlot, 32>, 40> slots_{};
  std::array<LastReply, 40> replies_{};
};

}  // namespace zarvo::host
