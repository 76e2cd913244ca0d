#include "host/session/driver.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "codepage/cp1251.h"

namespace zarvo::host {

namespace {
std::int32_t as_int(std::uint32_t value) {
  return static_cast<std::int32_t>(value);
}
}  // namespace

Driver::Driver(zarvo_get_da30_fn get_da30, void* window, zarvo_port* port)
    : self_(get_da30(0, window, port)) {
  if (self_ == nullptr) throw std::runtime_error("GetDA30 returned no driver object");
}

Driver::~Driver() {
  zarvo_da30_destroy(self_);
}

std::string Driver::name() const {
  zarvo_driver_name name{};
  ops().GetDriverName(&name, self_);
  const std::size_t length = std::min<std::size_t>(name.bytes[0], sizeof name.bytes - 1);
  return std::string(reinterpret_cast<const char*>(name.bytes + 1), length);
}

std::optional<std::int32_t> Driver::capability(std::uint32_t kind) const {
  std::int32_t value = 0;
  if ((ops().GetCapability(self_, kind, &value) & 0xFFU) == 0) return std::nullopt;
  return value;
}

std::int32_t Driver::open_line(std::uint32_t line) const {
  return ops().OpenLine(self_, line);
}

std::int32_t Driver::line_state(std::uint32_t line) const {
  return ops().GetLineState(self_, line);
}

std::uint8_t Driver::read_pump_state(std::uint32_t line, std::uint32_t pump) const {
  return static_cast<std::uint8_t>(ops().ReadPumpState(self_, as_int(line), pump));
}

PollReading Driver::poll(std::uint32_t line, std::uint32_t pump, std::uint32_t nozzles) const {
  zarvo_poll_result record{};
  ops().PollPump(&record, self_, line, pump, nozzles);
  return {record.bytes[0], record.bytes[14]};
}

void Driver::set_price(std::uint32_t line, std::uint32_t pump, std::uint32_t nozzle,
                       double price) const {
  ops().SetPrice(self_, as_int(line), as_int(pump), as_int(nozzle), 0, 0, price);
}

void Driver::preset_volume(std::uint32_t line, std::uint32_t pump, std::uint32_t nozzle,
                           double volume) const {
  ops().PresetVolume(self_, as_int(line), as_int(pump), nozzle, 0, volume);
}

void Driver::preset_amount(std::uint32_t line, std::uint32_t pump, std::uint32_t nozzle,
                           double amount) const {
  ops().PresetAmount(self_, as_int(line), as_int(pump), nozzle, 0, amount);
}

Delivery Driver::delivery(std::uint32_t line, std::uint32_t pump) const {
  Delivery delivery;
  ops().GetDelivery(self_, as_int(line), as_int(pump), &delivery.volume, &delivery.amount);
  return delivery;
}

std::optional<Totals> Driver::totals(std::uint32_t line, std::uint32_t pump,
                                     std::uint32_t nozzle) const {
  // The driver leaves both untouched when no totals reply was taken.
  constexpr double kUntouched = std::numeric_limits<double>::quiet_NaN();
  Totals totals{kUntouched, kUntouched};
  ops().ReadTotals(self_, as_int(line), as_int(pump), nozzle, &totals.volume, &totals.amount, 0, 0);
  if (std::isnan(totals.volume) || std::isnan(totals.amount)) return std::nullopt;
  return totals;
}

void Driver::stop(std::uint32_t line, std::uint32_t pump) const {
  ops().StopPump(self_, line, as_int(pump), 1);
}

void Driver::stop_all(std::uint32_t line) const {
  ops().StopAllPumps(self_, line);
}

std::uint8_t Driver::read_param(std::uint32_t line, std::uint32_t pump, std::int32_t number) const {
  return static_cast<std::uint8_t>(ops().ReadParam(self_, line, pump, number));
}

void Driver::write_param(std::uint32_t line, std::uint32_t pump, std::int32_t number,
                         std::int32_t value) const {
  ops().WriteParam(self_, line, pump, number, value);
}

void Driver::add_menu_items(zarvo_menu_item* root, zarvo_new_item_fn new_item) const {
  ops().AddMenuItems(self_, root, new_item);
}

std::string driver_message(const zarvo::Exception& failure) {
  const std::string message = utf8_from_cp1251(failure.what());
  return message.empty() ? std::string("the driver rejected the reply") : message;
}

}  // namespace zarvo::host
