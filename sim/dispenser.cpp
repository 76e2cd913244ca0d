#include "sim/dispenser.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace zarvo::sim {
namespace {

constexpr std::size_t kReadingWidth = wire::kDeliveryFieldWidth;
constexpr std::size_t kTotalWidth = wire::kTotalFieldWidth;
constexpr int kVolumeDecimals = 2;
constexpr std::int64_t kMillisPerMinute = 60000;

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

Reply state_reply(std::uint8_t address, char digit) {
  return {address, wire::kAnswer, std::string(1, digit)};
}
constexpr char kAccepted = wire::kAccepted;
constexpr char kRefused = wire::kRefused;

std::string number_bytes(std::uint16_t number) {
  return {static_cast<char>(number >> 8), static_cast<char>(number & 0xFF)};
}

// Construction keeps readings within their fields; a failure here is a bug.
std::string field(std::int64_t value, int decimals, std::size_t width) {
  auto text = decimal_field(value, decimals, width);
  if (!text) throw std::logic_error("reading does not fit its field");
  return *text;
}

// Totalizers roll over like the counters of a real dispenser.
std::string total_field(std::int64_t value, int decimals) {
  return field(value % (field_capacity(decimals, kTotalWidth) + 1), decimals, kTotalWidth);
}

}  // namespace

Dispenser::Dispenser(const ModelOptions& options)
    : line_(options.line),
      nozzles_(options.nozzles),
      flow_cl_per_minute_(std::llround(options.flow_lpm * 100.0)),
      auto_customer_(options.auto_customer),
      self_service_(options.self_service),
      reaction_(options.reaction) {
  if (options.pumps < 1 || options.pumps > kMaxPumps) {
    throw std::invalid_argument("pumps must be 1 to 32");
  }
  if (options.nozzles < 1 || options.nozzles > kMaxNozzles) {
    throw std::invalid_argument("nozzles must be 1 to 6");
  }
  if (!(options.flow_lpm >= 0.01 && options.flow_lpm <= 1000.0)) {
    throw std::invalid_argument("flow must be 0.01 to 1000 litres a minute");
  }
  if (options.reaction < Millis{0}) throw std::invalid_argument("reaction must not be negative");
  pumps_.resize(static_cast<std::size_t>(options.pumps));
  for (std::size_t i = 0; i < pumps_.size(); ++i) {
    Pump& pump = pumps_[i];
    pump.number = static_cast<int>(i + 1);
    pump.params[wire::kAmountDecimalsParam] = 2;
    pump.params[wire::kPriceDecimalsParam] = 2;
    // The driver assumes a fresh dispenser holds these and sends a price only
    // when it differs.
    pump.prices = {650, 750, 850, 0, 0, 0};
  }
}

Dispenser::Pump* Dispenser::find(int pump) {
  if (pump < 1 || pump > pumps()) return nullptr;
  return &pumps_[static_cast<std::size_t>(pump - 1)];
}

const Dispenser::Pump& Dispenser::at(int pump) const {
  if (pump < 1 || pump > pumps()) throw std::out_of_range("no such pump");
  return pumps_[static_cast<std::size_t>(pump - 1)];
}

std::uint16_t Dispenser::price(int pump, int nozzle) const {
  if (!has_nozzle(nozzle)) throw std::out_of_range("no such nozzle");
  return at(pump).prices[static_cast<std::size_t>(nozzle - 1)];
}

int Dispenser::parameter(int pump, int number) const {
  if (number < 0 || number >= kParamCount) throw std::out_of_range("no such parameter");
  return at(pump).params[static_cast<std::size_t>(number)];
}

NozzleTotals Dispenser::totals(int pump, int nozzle) const {
  if (!has_nozzle(nozzle)) throw std::out_of_range("no such nozzle");
  return at(pump).totals[static_cast<std::size_t>(nozzle - 1)];
}

// ---- time ----

void Dispenser::advance_to(Millis now) {
  for (Pump& pump : pumps_) advance(pump, now);
}

std::optional<Millis> Dispenser::completion_time(const Pump& pump) const {
  if (!pump.delivery || pump.delivery->stopped) return std::nullopt;
  const Delivery& d = pump.delivery.value();
  // The first whole millisecond at which the flow reaches the target.
  const std::int64_t ms =
      (d.target.volume_cl * kMillisPerMinute + flow_cl_per_minute_ - 1) / flow_cl_per_minute_;
  return d.started + Millis{ms};
}

void Dispenser::advance(Pump& pump, Millis now) {
  // Events happen in time order, so that a lift, the end of the flow and a
  // hang-up that all fall before `now` keep their order.
  for (;;) {
    walk_in(pump, now);
    std::optional<Millis> next;
    auto consider = [&](std::optional<Millis> when) {
      if (when && *when <= now && (!next || *when < *next)) next = when;
    };
    const auto done = completion_time(pump);
    consider(pump.lift_at);
    consider(done);
    consider(pump.hang_up_at);
    if (!next) break;
    if (pump.lift_at == next) {
      pump.lift_at.reset();
      if (pump.authorized && pump.lifted == 0) lift(pump, pump.authorized->nozzle, *next);
    } else if (done == next) {
      pump.delivery->volume_cl = pump.delivery->target.volume_cl;
      finish(pump, *next);
      if ((auto_customer_ || self_service_) && pump.lifted != 0)
        pump.hang_up_at = *next + reaction_;
    } else {
      pump.hang_up_at.reset();
      hang_up(pump, *next);
    }
  }
  run_delivery(pump, now);
}

void Dispenser::walk_in(Pump& pump, Millis now) {
  const bool idle = pump.lifted == 0 && !pump.authorized && !pump.delivery && !pump.pending;
  if (!self_service_ || !idle) return;
  // The amounts vary from one delivery to the next, the same in every run.
  const int count = pump.last_number;
  Target t;
  t.nozzle = 1 + (count + pump.number) % nozzles_;
  if (pump.prices[static_cast<std::size_t>(t.nozzle - 1)] == 0) t.nozzle = 1;
  t.kind = wire::PresetKind::kVolume;
  t.pricing.price_digits = pump.prices[static_cast<std::size_t>(t.nozzle - 1)];
  t.pricing.price_decimals = pump.params[wire::kPriceDecimalsParam];
  t.pricing.amount_decimals = pump.params[wire::kAmountDecimalsParam];
  t.volume_cl = 100 + (count * 7919 + pump.number * 104729) % 900;
  t.amount = amount_for_volume(t.volume_cl, t.pricing);
  if (t.pricing.price_digits == 0) return;
  pump.authorized = t;
  pump.lift_at = now + reaction_;
}

void Dispenser::run_delivery(Pump& pump, Millis now) {
  if (!pump.delivery || pump.delivery->stopped) return;
  Delivery& d = pump.delivery.value();
  const std::int64_t elapsed = std::max<std::int64_t>(0, (now - d.started).count());
  const std::int64_t flowed = elapsed * flow_cl_per_minute_ / kMillisPerMinute;
  d.volume_cl = std::clamp(flowed, d.volume_cl, d.target.volume_cl);
}

// ---- deliveries ----

void Dispenser::begin_delivery(Pump& pump, Millis now) {
  pump.last_number =
      pump.last_number == 0xFFFF ? 1 : static_cast<std::uint16_t>(pump.last_number + 1);
  pump.delivery = Delivery{*pump.authorized, pump.last_number, now, 0, false};
  pump.authorized.reset();
  pump.lift_at.reset();
}

void Dispenser::stop(Pump& pump, Millis now) {
  pump.lift_at.reset();
  pump.authorized.reset();
  if (!pump.delivery || pump.delivery->stopped) return;
  run_delivery(pump, now);
  pump.delivery->stopped = true;
  if (auto_customer_) pump.hang_up_at = now + reaction_;
}

void Dispenser::finish(Pump& pump, Millis now) {
  run_delivery(pump, now);
  const Delivery d = pump.delivery.value();
  pump.delivery.reset();
  const Target& t = d.target;
  // An amount preset that ran to its end is worth exactly its target.
  std::int64_t amount = amount_for_volume(d.volume_cl, t.pricing);
  if (t.kind == wire::PresetKind::kAmount) {
    amount = d.volume_cl == t.volume_cl ? t.amount : std::min(amount, t.amount);
  }
  NozzleTotals& totals = pump.totals[static_cast<std::size_t>(t.nozzle - 1)];
  totals.volume_cl += d.volume_cl;
  totals.amount_milli += amount * pow10(kMaxDecimals - t.pricing.amount_decimals);
  transactions_.push_back(Transaction{line_, pump.number, t.nozzle, d.number, d.volume_cl, amount,
                                      t.pricing.amount_decimals, false});
  pump.pending = Pending{
      d.number, t.nozzle, d.volume_cl, amount, t.pricing.amount_decimals, transactions_.size() - 1};
}

bool Dispenser::lift(int pump, int nozzle, Millis now) {
  Pump* p = find(pump);
  if (!p) return false;
  advance(*p, now);
  return lift(*p, nozzle, now);
}

bool Dispenser::lift(Pump& pump, int nozzle, Millis now) {
  if (!has_nozzle(nozzle) || pump.lifted != 0) return false;
  pump.lifted = nozzle;
  if (pump.authorized && pump.authorized->nozzle == nozzle) begin_delivery(pump, now);
  return true;
}

bool Dispenser::hang_up(int pump, Millis now) {
  Pump* p = find(pump);
  if (!p) return false;
  advance(*p, now);
  return hang_up(*p, now);
}

bool Dispenser::hang_up(Pump& pump, Millis now) {
  if (pump.lifted == 0) return false;
  pump.lifted = 0;
  pump.hang_up_at.reset();
  if (pump.delivery) finish(pump, now);
  return true;
}

// ---- requests ----

std::optional<Reply> Dispenser::handle(const Request& request, Millis now) {
  advance_to(now);
  // The lowest pump answers for the whole line; a stop for the line stops all.
  Pump* pump = find(request.address == 0 ? 1 : request.address);
  if (!pump) return std::nullopt;
  if (request.address == 0 && std::holds_alternative<Stop>(request.command)) {
    for (Pump& each : pumps_) stop(each, now);
    return state_reply(static_cast<std::uint8_t>(pump->number), kAccepted);
  }
  return answer(*pump, request.command, now);
}

Reply Dispenser::answer(Pump& pump, const Command& command, Millis now) {
  const auto address = static_cast<std::uint8_t>(pump.number);
  return std::visit(Overloaded{
                        [&](const SetPrices& set) {
                          // A running delivery keeps the price it started with.
                          for (int i = 0; i < std::min(set.prices.count, nozzles_); ++i) {
                            pump.prices[static_cast<std::size_t>(i)] =
                                set.prices.digits[static_cast<std::size_t>(i)];
                          }
                          return state_reply(address, kAccepted);
                        },
                        [&](const Start& s) { return start(pump, s, now); },
                        [&](const Stop&) {
                          stop(pump, now);
                          return state_reply(address, kAccepted);
                        },
                        [&](const ReadParam& read) {
                          static constexpr char kHex[] = "0123456789ABCDEF";
                          const int value = pump.params[static_cast<std::size_t>(read.number)];
                          std::string data{static_cast<char>('0' + read.number / 10),
                                           static_cast<char>('0' + read.number % 10),
                                           kHex[value >> 4], kHex[value & 0xF]};
                          return Reply{address, wire::kParamReply, data};
                        },
                        [&](const WriteParam& write) {
                          const bool decimals = write.number == wire::kAmountDecimalsParam ||
                                                write.number == wire::kPriceDecimalsParam;
                          if (decimals && write.value > kMaxDecimals)
                            return state_reply(address, kRefused);
                          pump.params[static_cast<std::size_t>(write.number)] =
                              static_cast<std::uint8_t>(write.value);
                          return state_reply(address, kAccepted);
                        },
                        [&](const Status&) { return status(pump); },
                        [&](const TotalsRequest& t) { return totals_reply(pump, t.nozzle); },
                        [&](const Ack& ack) {
                          Reply r = acknowledge(pump, ack.number);
                          walk_in(pump, now);  // the next customer was waiting
                          return r;
                        },
                    },
                    command);
}

std::optional<Dispenser::Target> Dispenser::target_for(const Pump& pump, const Start& s) const {
  // The mono-product start prices its one product with the entry it carries.
  const std::size_t entry = s.mono ? 0 : static_cast<std::size_t>(s.nozzle - 1);
  const bool carried = entry < static_cast<std::size_t>(s.prices.count);
  Target t;
  t.nozzle = s.nozzle;
  t.kind = s.kind;
  t.pricing.price_digits = carried ? s.prices.digits[entry] : pump.prices[entry];
  t.pricing.price_decimals = pump.params[wire::kPriceDecimalsParam];
  t.pricing.amount_decimals = pump.params[wire::kAmountDecimalsParam];
  if (t.pricing.price_digits == 0 || s.target <= 0) return std::nullopt;
  if (s.kind == wire::PresetKind::kVolume) {
    t.volume_cl = s.target;
    t.amount = amount_for_volume(t.volume_cl, t.pricing);
  } else {
    t.amount = s.target;
    t.volume_cl = volume_for_amount(t.amount, t.pricing);
  }
  // Refuse what could not be shown in the reading fields, or would pour nothing.
  if (t.volume_cl <= 0 || t.volume_cl > field_capacity(kVolumeDecimals, kReadingWidth) ||
      t.amount > field_capacity(t.pricing.amount_decimals, kReadingWidth)) {
    return std::nullopt;
  }
  return t;
}

Reply Dispenser::start(Pump& pump, const Start& s, Millis now) {
  const auto address = static_cast<std::uint8_t>(pump.number);
  const bool busy = pump.delivery || pump.pending || (pump.lifted != 0 && pump.lifted != s.nozzle);
  if (busy || !has_nozzle(s.nozzle)) return state_reply(address, kRefused);
  const auto target = target_for(pump, s);
  if (!target) return state_reply(address, kRefused);
  for (int i = 0; i < std::min(s.prices.count, nozzles_); ++i) {
    pump.prices[static_cast<std::size_t>(i)] = s.prices.digits[static_cast<std::size_t>(i)];
  }
  pump.authorized = target;
  if (pump.lifted == s.nozzle) {
    begin_delivery(pump, now);
  } else if (auto_customer_) {
    pump.lift_at = now + reaction_;
  }
  return state_reply(address, kAccepted);
}

Reply Dispenser::status(const Pump& pump) const {
  const auto address = static_cast<std::uint8_t>(pump.number);
  if (pump.pending) {
    const Pending& p = pump.pending.value();
    return Reply{address, wire::kEndedDelivery,
                 number_bytes(p.number) + static_cast<char>(wire::kDeliveryEnded) +
                     static_cast<char>('0' + p.nozzle) + '0' +
                     field(p.amount, p.amount_decimals, kReadingWidth) +
                     field(p.volume_cl, kVolumeDecimals, kReadingWidth)};
  }
  if (pump.delivery && (pump.delivery->volume_cl > 0 || pump.delivery->stopped)) {
    const Delivery& d = pump.delivery.value();
    const std::int64_t amount =
        std::min(amount_for_volume(d.volume_cl, d.target.pricing), d.target.amount);
    return Reply{address, wire::kLiveReadings,
                 number_bytes(d.number) +
                     static_cast<char>(d.stopped ? wire::kStopped : wire::kFuelling) +
                     static_cast<char>('0' + d.target.nozzle) + '0' +
                     field(amount, d.target.pricing.amount_decimals, kReadingWidth) +
                     field(d.volume_cl, kVolumeDecimals, kReadingWidth)};
  }
  std::string chars(wire::kStatusChars, static_cast<char>(wire::kNoNews));
  for (int k = 1; k <= nozzles_; ++k) {
    std::uint8_t c = wire::kIdleUnlessDecided;
    if (pump.delivery && pump.delivery->target.nozzle == k) {
      c = wire::kLiftedAuthorized;
    } else if (pump.authorized && pump.authorized->nozzle == k) {
      c = wire::kAuthorized;
    } else if (pump.lifted == k) {
      c = wire::kLifted;
    }
    chars[static_cast<std::size_t>(k - 1)] = static_cast<char>(c);
  }
  return Reply{address, wire::kStatusReply, chars};
}

Reply Dispenser::totals_reply(Pump& pump, int nozzle) {
  const auto address = static_cast<std::uint8_t>(pump.number);
  if (!has_nozzle(nozzle)) return state_reply(address, kRefused);
  const NozzleTotals& t = pump.totals[static_cast<std::size_t>(nozzle - 1)];
  const int decimals = pump.params[wire::kAmountDecimalsParam];
  const std::string volume = total_field(t.volume_cl, kVolumeDecimals);
  const std::string amount =
      total_field(divide_half_even(t.amount_milli, pow10(kMaxDecimals - decimals)), decimals);
  // The number's low byte is the volume field's first character. Its high byte
  // is chosen so that acknowledging the totals can never release a delivery.
  auto high = static_cast<std::uint8_t>(pump.last_number >> 8);
  const auto low = static_cast<std::uint8_t>(volume[0]);
  if (pump.pending && pump.pending->number == (high << 8 | low)) high ^= 0x80;
  pump.totals_number = static_cast<std::uint16_t>(high << 8 | low);
  return Reply{address, wire::kTotalsReply,
               std::string(1, static_cast<char>(high)) + volume + amount};
}

Reply Dispenser::acknowledge(Pump& pump, std::uint16_t number) {
  const auto address = static_cast<std::uint8_t>(pump.number);
  if (pump.pending && pump.pending->number == number) {
    transactions_[pump.pending->record].acknowledged = true;
    pump.released = number;
    pump.pending.reset();
    return state_reply(address, kAccepted);
  }
  // Repeating the last acknowledgement, or acknowledging totals, changes nothing.
  if (pump.released == number || pump.totals_number == number)
    return state_reply(address, kAccepted);
  return state_reply(address, kRefused);
}

}  // namespace zarvo::sim
