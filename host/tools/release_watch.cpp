#include "host/tools/release_watch.h"

#include "host/output/json.h"

namespace zarvo::host {

ReleaseWatch::ReleaseWatch(Session& session, const std::string& journal_path)
    : session_(session),
      journal_(journal_path.empty() ? nullptr : std::make_unique<Journal>(journal_path)),
      gate_(journal_.get(), [&session](std::uint32_t line, std::uint32_t pump) {
        return session.driver().delivery(line, pump);
      }) {
  session_.set_listener([this](const ExchangeRecord& record) { gate_.observe(record); });
  session_.port().set_send_gate([this](std::uint32_t line, std::span<const std::uint8_t> request) {
    gate_.before_send(line, request);
  });
}

ReleaseWatch::~ReleaseWatch() {
  session_.port().set_send_gate(nullptr);
  session_.set_listener(nullptr);
}

void show_released(Output& out, const JournalEntry& entry, int amount_decimals) {
  out.result(Json{{"event", "delivery"},
                  {"line", entry.line},
                  {"pump", entry.pump},
                  {"transaction", entry.transaction},
                  {"volume", entry.volume},
                  {"amount", entry.amount}},
             "line " + std::to_string(entry.line) + " pump " + std::to_string(entry.pump) +
                 ": transaction " + std::to_string(entry.transaction) + " ended, " +
                 fixed_text(entry.volume, 2) + " l for " +
                 fixed_text(entry.amount, amount_decimals));
}

}  // namespace zarvo::host
