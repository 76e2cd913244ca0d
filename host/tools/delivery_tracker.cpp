#include "host/tools/delivery_tracker.h"

#include <cstddef>

#include "protocol/wire.h"

namespace zarvo::host {

namespace {

constexpr std::size_t kAddress = wire::kFrame.address;
constexpr std::size_t kLetter = wire::kFrame.letter;
constexpr std::size_t kData = wire::kFrame.data;

}  // namespace

CompletionTracker::PumpSlot* CompletionTracker::slot(std::uint32_t line, std::uint32_t pump) {
  if (line < 1 || line > 40 || pump < 1 || pump > 32) return nullptr;
  return &slots_[line - 1][pump - 1];
}

void CompletionTracker::observe(const ExchangeRecord& record) {
  if (record.line < 1 || record.line > replies_.size()) return;
  std::lock_guard lock(mutex_);
  LastReply& last = replies_[record.line - 1];
  const auto sent = record.sent;
  const bool acknowledgement =
      sent.size() >= kData + wire::kCrcSize && sent[kLetter] == wire::kAcknowledge;
  if (!acknowledgement) {
    last = {};
    const auto reply = record.received;
    if (record.result == PortResult::kOk && reply.size() > kData + 1) {
      last = {reply[kLetter], reply[kAddress],
              static_cast<std::uint32_t>(reply[kData] * 256 + reply[kData + 1])};
    }
    return;
  }
  if (!record.transmitted) return;
  const auto number = static_cast<std::uint32_t>(sent[kData] * 256 + sent[kData + 1]);
  if (!releases_delivery(last, sent[kAddress], number)) return;
  if (PumpSlot* target = slot(record.line, sent[kAddress])) target->pending = number;
}

bool CompletionTracker::releases_delivery(const LastReply& reply, std::uint8_t address,
                                          std::uint32_t number) const {
  if (reply.type == wire::kTotalsReply) return false;
  if (reply.type == wire::kEndedDelivery) return reply.address == address && reply.number == number;
  return true;
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> CompletionTracker::releases(
    std::uint32_t line, std::span<const std::uint8_t> request) {
  if (line < 1 || line > replies_.size()) return std::nullopt;
  if (request.size() < kData + wire::kCrcSize || request[kLetter] != wire::kAcknowledge)
    return std::nullopt;
  const std::uint8_t pump = request[kAddress];
  const auto number = static_cast<std::uint32_t>(request[kData] * 256 + request[kData + 1]);
  std::lock_guard lock(mutex_);
  if (slot(line, pump) == nullptr || !releases_delivery(replies_[line - 1], pump, number)) {
    return std::nullopt;
  }
  return std::make_pair(static_cast<std::uint32_t>(pump), number);
}

DeliveryGate::DeliveryGate(Journal* journal, Reader read, Written written)
    : journal_(journal), read_(std::move(read)), written_hook_(std::move(written)) {}

void DeliveryGate::before_send(std::uint32_t line, std::span<const std::uint8_t> request) {
  const auto released = tracker_.releases(line, request);
  if (!released) return;
  const auto [pump, transaction] = *released;
  // The driver filed the readings before it acknowledges them.
  const Delivery reading = read_(line, pump);
  const JournalEntry entry{line, pump, transaction, reading.volume, reading.amount};
  std::lock_guard lock(mutex_);
  // Most commands see no delivery end: a database costs more than their exchange.
  if (journal_ == nullptr) {
    own_journal_ = std::make_unique<Journal>(":memory:");
    journal_ = own_journal_.get();
  }
  if (!journal_->record_once(entry)) return;
  written_.push_back(entry);
  if (written_hook_) written_hook_(entry, journal_->last_written_id());
}

std::vector<JournalEntry> DeliveryGate::take_written() {
  std::lock_guard lock(mutex_);
  return std::exchange(written_, {});
}

std::optional<std::uint32_t> CompletionTracker::take(std::uint32_t line, std::uint32_t pump) {
  std::lock_guard lock(mutex_);
  PumpSlot* target = slot(line, pump);
  if (target == nullptr || !target->pending) return std::nullopt;
  const std::uint32_t transaction = *target->pending;
  target->pending.reset();
  if (target->last_taken == transaction) return std::nullopt;
  target->last_taken = transaction;
  return transaction;
}

}  // namespace zarvo::host
