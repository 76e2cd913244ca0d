// The driver object, reached only through its operation table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "zarvo/da30.h"

namespace zarvo::host {

struct Delivery {
  double volume = 0;
  double amount = 0;
};

struct Totals {
  double volume = 0;
  double amount = 0;
};

struct PollReading {
  std::uint8_t state = 0;
  std::uint8_t low_bits = 0;  // what the record carries in its byte 14
};

// Failures leave the driver as zarvo::Exception or zarvo::ESerialIO.
class Driver {
 public:
  // `window` owns the driver's dialogs; null for none.
  Driver(zarvo_get_da30_fn get_da30, void* window, zarvo_port* port);
  ~Driver();
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  // The driver's name, code page 1251, without its length byte.
  std::string name() const;
  std::optional<std::int32_t> capability(std::uint32_t kind) const;
  std::int32_t open_line(std::uint32_t line) const;
  std::int32_t line_state(std::uint32_t line) const;

  std::uint8_t read_pump_state(std::uint32_t line, std::uint32_t pump) const;
  PollReading poll(std::uint32_t line, std::uint32_t pump, std::uint32_t nozzles) const;
  void set_price(std::uint32_t line, std::uint32_t pump, std::uint32_t nozzle, double price) const;
  void preset_volume(std::uint32_t line, std::uint32_t pump, std::uint32_t nozzle,
                     double volume) const;
  void preset_amount(std::uint32_t line, std::uint32_t pump, std::uint32_t nozzle,
                     double amount) const;
  Delivery delivery(std::uint32_t line, std::uint32_t pump) const;
  // Empty when no totals reply was taken.
  std::optional<Totals> totals(std::uint32_t line, std::uint32_t pump, std::uint32_t nozzle) const;
  void stop(std::uint32_t line, std::uint32_t pump) const;
  void stop_all(std::uint32_t line) const;
  std::uint8_t read_param(std::uint32_t line, std::uint32_t pump, std::int32_t number) const;
  void write_param(std::uint32_t line, std::uint32_t pump, std::int32_t number,
                   std::int32_t value) const;
  void add_menu_items(zarvo_menu_item* root, zarvo_new_item_fn new_item) const;

 private:
  const zarvo_da30_ops& ops() const { return *self_->ops; }
  zarvo_da30* self_;
};

// A failure the driver raised, in UTF-8 for people. Its one empty message (a
// parameter read whose reply did not carry the parameter) gets the host's words.
std::string driver_message(const zarvo::Exception& failure);

}  // namespace zarvo::host
