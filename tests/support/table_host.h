// A host as station applications are: its own settings folder, a scripted
// port and a driver object, called through the operation table.
#pragma once

#include <functional>
#include <string_view>
#include <utility>

#include "library/driver_object.h"
#include "tests/support/driver_fixture.h"
#include "zarvo/da30.h"

namespace zarvo::testing {

using HostCall = std::function<void(zarvo_da30*, const zarvo_da30_ops&)>;

struct TableHost {
  // The settings file holds settings_text when the object is created.
  explicit TableHost(std::string_view settings_text = {})
      : object(create(settings_text)), ops(*object->ops) {}
  ~TableHost() { zarvo_da30_destroy(object); }
  TableHost(const TableHost&) = delete;
  TableHost& operator=(const TableHost&) = delete;

  TVM30& tables() { return DriverOf(object); }
  std::uint8_t& state(int pump) { return tables().PumpState[*PumpCell::of(1, pump)]; }
  // Volume and amount as GetDelivery reports them.
  std::pair<double, double> delivery(std::int32_t pump) {
    double volume = -1;
    double amount = -1;
    ops.GetDelivery(object, 1, pump, &volume, &amount);
    return {volume, amount};
  }
  void call(const HostCall& host_call) {
    try {
      host_call(object, ops);
    } catch (const ESerialIO&) {
      throw;
    } catch (const Exception&) {
      // A parameter read answered by anything but its value raises this.
    }
  }

  TempSettingsDir settings;
  ScriptedPort port;
  zarvo_da30* object;
  const zarvo_da30_ops& ops;

 private:
  zarvo_da30* create(std::string_view settings_text) {
    if (!settings_text.empty()) settings.write_file(settings_text);
    return GetDA30(0, nullptr, port.port());
  }
};

}  // namespace zarvo::testing
