// Which acknowledgement on the line releases which delivery, and the journal
// write that goes before it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "host/port/serial_port.h"
#include "host/session/driver.h"
#include "host/tools/journal.h"

namespace zarvo::host {

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
  // The pump and transaction that `request`, about to go out on the line,
  // releases if it is an acknowledgement that counts.
  std::optional<std::pair<std::uint32_t, std::uint32_t>> releases(
      std::uint32_t line, std::span<const std::uint8_t> request);

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

// Journals each delivery before the acknowledgement that releases it goes
// out: a released delivery is never reported again, so a monitor killed
// between the two would lose it. One killed after the write and before the
// acknowledgement sees the pump report it again; the journal, which holds
// the pump's newest row, tells the repeat from a new delivery (see
// Journal::record_once), whichever process asks.
class DeliveryGate {
 public:
  using Reader = std::function<Delivery(std::uint32_t line, std::uint32_t pump)>;
  // Told of each delivery written, with its row id, before the acknowledgement leaves.
  using Written = std::function<void(const JournalEntry& entry, std::int64_t id)>;
  // `journal` may be null: the deliveries are then only reported, checked
  // for repeats against a journal in memory, made for the first of them.
  DeliveryGate(Journal* journal, Reader read, Written written = {});

  // For the port's send gate; throws when the delivery could not be written,
  // which keeps the acknowledgement off the line.
  void before_send(std::uint32_t line, std::span<const std::uint8_t> request);
  // For the exchange observer.
  void observe(const ExchangeRecord& record) { tracker_.observe(record); }
  // The deliveries written since the last call, oldest first.
  std::vector<JournalEntry> take_written();

 private:
  std::unique_ptr<Journal> own_journal_;
  Journal* journal_;  // null until the first delivery when none was given
  Reader read_;
  Written written_hook_;
  CompletionTracker tracker_;
  std::mutex mutex_;  // the journal's connection serves one line at a time
  std::vector<JournalEntry> written_;
};

}  // namespace zarvo::host
