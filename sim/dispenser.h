// The simulated dispensers of one line: pumps with nozzles, prices, deliveries,
// totalizers and parameters, answering requests the way the driver expects.
// Not thread-safe; Simulator serialises access.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/wire.h"
#include "sim/money.h"
#include "sim/request.h"

namespace zarvo::sim {

// Time since the simulation began.
using Millis = std::chrono::milliseconds;

struct ModelOptions {
  int line = 1;  // the host's number for this line, used only in the record
  int pumps = 4;
  int nozzles = 2;
  double flow_lpm = 60.0;
  // A simulated customer lifts the nozzle `reaction` after each accepted start
  // and hangs it up `reaction` after the delivery ends.
  bool auto_customer = true;
  Millis reaction{300};
  // Customers who need no host: whenever a pump is idle and its last delivery
  // released, one arrives `reaction` later, is authorized by the pump itself
  // for a volume, fuels it and hangs up. The line then only has to be watched.
  bool self_service = false;
};

inline constexpr int kParamCount = 100;

// A completed delivery, recorded when it ends; `acknowledged` turns true when
// the host releases it with the right transaction number.
struct Transaction {
  int line = 0;
  int pump = 0;
  int nozzle = 0;
  std::uint16_t number = 0;
  std::int64_t volume_cl = 0;
  std::int64_t amount = 0;  // units of 10^-amount_decimals
  int amount_decimals = 2;
  bool acknowledged = false;
};

struct NozzleTotals {
  std::int64_t volume_cl = 0;
  std::int64_t amount_milli = 0;  // units of 10^-3, whatever the decimals were
};

// A reply before framing: the answering pump, the type letter and the data.
struct Reply {
  std::uint8_t address = 0;
  char type = wire::kAnswer;
  std::string data;
};

class Dispenser {
 public:
  // Throws std::invalid_argument for options outside the dispenser's range.
  explicit Dispenser(const ModelOptions& options);

  // Runs deliveries and the simulated customer up to `now`.
  void advance_to(Millis now);

  // The reply to a request, or nothing when no pump answers it.
  std::optional<Reply> handle(const Request& request, Millis now);

  // A customer at the pump: false when the pump or nozzle does not exist, or
  // when another nozzle is already up (lift) or none is (hang_up).
  bool lift(int pump, int nozzle, Millis now);
  bool hang_up(int pump, Millis now);

  const std::vector<Transaction>& transactions() const { return transactions_; }
  int pumps() const { return static_cast<int>(pumps_.size()); }
  std::uint16_t price(int pump, int nozzle) const;
  int parameter(int pump, int number) const;
  NozzleTotals totals(int pump, int nozzle) const;

 private:
  struct Target {
    int nozzle = 1;
    wire::PresetKind kind = wire::PresetKind::kVolume;
    std::int64_t volume_cl = 0;
    std::int64_t amount = 0;
    Pricing pricing;
  };
  struct Delivery {
    Target target;
    std::uint16_t number = 0;
    Millis started{0};
    std::int64_t volume_cl = 0;
    bool stopped = false;
  };
  struct Pending {
    std::uint16_t number = 0;
    int nozzle = 1;
    std::int64_t volume_cl = 0;
    std::int64_t amount = 0;
    int amount_decimals = 2;
    std::size_t record = 0;
  };
  struct Pump {
    int number = 0;
    std::array<std::uint16_t, kMaxNozzles> prices{};
    std::array<std::uint8_t, kParamCount> params{};
    std::array<NozzleTotals, kMaxNozzles> totals{};
    int lifted = 0;
    std::optional<Target> authorized;
    std::optional<Delivery> delivery;
    std::optional<Pending> pending;
    std::uint16_t last_number = 0;
    std::optional<std::uint16_t> released;
    std::optional<std::uint16_t> totals_number;
    std::optional<Millis> lift_at;
    std::optional<Millis> hang_up_at;
  };

  Pump* find(int pump);
  const Pump& at(int pump) const;
  bool has_nozzle(int nozzle) const { return nozzle >= 1 && nozzle <= nozzles_; }

  void advance(Pump& pump, Millis now);
  void walk_in(Pump& pump, Millis now);
  void run_delivery(Pump& pump, Millis now);
  std::optional<Millis> completion_time(const Pump& pump) const;
  void begin_delivery(Pump& pump, Millis now);
  void stop(Pump& pump, Millis now);
  void finish(Pump& pump, Millis now);
  bool lift(Pump& pump, int nozzle, Millis now);
  bool hang_up(Pump& pump, Millis now);

  Reply answer(Pump& pump, const Command& command, Millis now);
  Reply start(Pump& pump, const Start& start, Millis now);
  Reply status(const Pump& pump) const;
  Reply totals_reply(Pump& pump, int nozzle);
  Reply acknowledge(Pump& pump, std::uint16_t number);
  std::optional<Target> target_for(const Pump& pump, const Start& start) const;

  int line_;
  int nozzles_;
  std::int64_t flow_cl_per_minute_;
  bool auto_customer_;
  bool self_service_;
  Millis reaction_;
  std::vector<Pump> pumps_;
  std::vector<Transaction> transactions_;
};

}  // namespace zarvo::sim
