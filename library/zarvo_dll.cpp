// The library's one export and the driver object's operation table. This is
// the only place that knows the host's calling convention: every entry reads
// 8-bit arguments from their low byte and returns 8-bit and Boolean results
// zero-extended, and slots 1 and 21 take the result buffer before the object.
#include <algorithm>
#include <cstring>

#include "driver/messages.h"
#include "driver/tvm30.h"
#include "library/driver_object.h"
#include "library/failure_boundary.h"
#include "platform/application.h"
#include "platform/port_guard.h"
#include "protocol/exchange.h"
#include "settings_dialog/menu_entry.h"
#include "settings_dialog/param_form.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

DriverObject& object_of(zarvo_da30* self) {
  return *reinterpret_cast<DriverObject*>(self);
}
TVM30& driver_of(zarvo_da30* self) {
  return *object_of(self).driver;
}
std::uint8_t low8(std::uint32_t cell) {
  return static_cast<std::uint8_t>(cell & 0xFF);
}
std::uint32_t boolean(bool value) {
  return value ? 1U : 0U;
}

// Where a failure of the object's entry goes in its log: the line and pump as
// the entry reads them.
SlotPlace at(zarvo_da30* self) {
  return {&driver_of(self).Log};
}
SlotPlace at(zarvo_da30* self, std::int32_t line) {
  return {&driver_of(self).Log, true, line};
}
SlotPlace at(zarvo_da30* self, std::int32_t line, std::int32_t pump) {
  return {&driver_of(self).Log, true, line, pump};
}

// Callers that the operations route through the object's table.
class ThroughTable final : public TableCalls {
 public:
  explicit ThroughTable(zarvo_da30* self) : self_(self) {}
  void WriteParam(std::uint8_t line, std::uint8_t pump, std::int32_t number,
                  std::int32_t value) override {
    self_->ops->WriteParam(self_, line, pump, number, value);
  }
  std::uint8_t ReadPumpState(std::int32_t line, std::uint8_t pump) override {
    return low8(self_->ops->ReadPumpState(self_, line, pump));
  }

 private:
  zarvo_da30* self_;
};

// The port calls this after each stored reply byte; the context is the object.
// It never raises: whatever fails in it (the port's own entries it reports
// to) makes the reply not accepted.
std::uint32_t ZARVO_STDCALL CheckReplyEntry(void* context, std::uint32_t line,
                                            const std::uint8_t* rxbuf, std::uint32_t,
                                            const std::uint8_t* stored, std::uint32_t) noexcept {
  bool accepted = false;
  const bool checked = platform::ReturnsNormally([&] {
    auto& driver = *static_cast<DriverObject*>(context)->driver;
    accepted = driver.CheckReply(
        low8(line), std::span<const std::uint8_t, kFrameBufferSize>(rxbuf, kFrameBufferSize),
        *stored);
  });
  if (!checked) {
    static_cast<DriverObject*>(context)->driver->Port.Absorbed(low8(line),
                                                               PortEntry::kInReplyCheck);
  }
  return boolean(checked && accepted);
}

void ZARVO_STDCALL Destroy(zarvo_da30* self) {
  AtSlotBoundary([&] {
    DriverObject* object = &object_of(self);
    ReleaseDriverUi(*object->driver);
    delete object->driver;
    delete object;
  });
}

}  // namespace
}  // namespace zarvo

#if defined(__i386__)
// The entry before slot 0 is called like the root class's destructor of the
// station hosts' language: Self in EAX, the outermost flag in DL (ignored),
// nothing on the stack, a plain return. This frame realigns the stack for the
// C++ code (such callers keep only 4 bytes) and is described to the unwinder
// so that a failure passes through it like through any other frame.
extern "C" void ZARVO_DESTROY_CALL zarvo_destroy_entry(zarvo_da30* self) asm("zarvo_destroy_entry");
[[gnu::used]] static void ZARVO_STDCALL
zarvo_destroy_object(zarvo_da30* self) asm("zarvo_destroy_object");
static void ZARVO_STDCALL zarvo_destroy_object(zarvo_da30* self) {
  zarvo::Destroy(self);
}
asm(R"(
    .text
    .p2align 4
zarvo_destroy_entry:
    .cfi_startproc
    pushl %ebp
    .cfi_def_cfa_offset 8
    .cfi_offset %ebp, -8
    movl %esp, %ebp
    .cfi_def_cfa_register %ebp
    andl $-16, %esp
    subl $12, %esp
    pushl %eax
    call zarvo_destroy_object
    leave
    .cfi_def_cfa %esp, 4
    ret
    .cfi_endproc
)");
constexpr auto kDestroyEntry = &zarvo_destroy_entry;
#else
// Elsewhere the object comes as the one argument, like in every slot.
constexpr auto kDestroyEntry = &zarvo::Destroy;
#endif

namespace zarvo {
namespace {

void ZARVO_STDCALL Reserved0(zarvo_da30* self) {
  AtSlotBoundary(at(self), [] { throw Exception(messages::kAbstractCall.str()); });
}

void ZARVO_STDCALL GetDriverName(zarvo_driver_name* result, zarvo_da30*) {
  static constexpr auto kName = cp1251("v2.41#Протокол колонок Zarvo");
  static_assert(kName.size + 1 == sizeof(zarvo_driver_name));
  result->bytes[0] = static_cast<std::uint8_t>(kName.size);
  std::memcpy(result->bytes + 1, kName.bytes.data(), kName.size);
}

void ZARVO_STDCALL SetLineState(zarvo_da30* self, std::uint32_t line, std::uint32_t state) {
  AtSlotBoundary(at(self, low8(line)),
                 [&] { driver_of(self).Port.SetRxState(low8(line), low8(state)); });
}

std::int32_t ZARVO_STDCALL GetLineState(zarvo_da30* self, std::uint32_t line) {
  return AtSlotBoundary(at(self, low8(line)),
                        [&] { return driver_of(self).Port.GetRxState(low8(line)); });
}

std::uint32_t ZARVO_STDCALL StopPump(zarvo_da30* self, std::uint32_t line, std::int32_t pump,
                                     std::uint32_t stop_flag) {
  return AtSlotBoundary(at(self, low8(line), pump), [&] {
    return boolean(driver_of(self).StopPump(low8(line), pump, low8(stop_flag) != 0));
  });
}

std::uint32_t ZARVO_STDCALL StopAllPumps(zarvo_da30* self, std::uint32_t line) {
  return AtSlotBoundary(at(self, low8(line)),
                        [&] { return boolean(driver_of(self).StopAllPumps(low8(line))); });
}

void ZARVO_STDCALL GetDelivery(zarvo_da30* self, std::int32_t line, std::int32_t pump,
                               double* volume, double* amount) {
  AtSlotBoundary(at(self, line, pump), [&] {
    const Delivery delivery = driver_of(self).GetDelivery(line, pump);
    *volume = delivery.volume;
    *amount = delivery.amount;
  });
}

void ZARVO_STDCALL ReadTotals(zarvo_da30* self, std::int32_t line, std::int32_t pump,
                              std::uint32_t nozzle, double* first, double* second, std::int32_t,
                              std::int32_t) {
  AtSlotBoundary(at(self, line, pump), [&] {
    if (const auto totals = driver_of(self).ReadTotals(line, pump, low8(nozzle))) {
      *first = totals->volume;
      *second = totals->amount;
    }
  });
}

void ZARVO_STDCALL Reserved8(zarvo_da30*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                             std::int32_t, std::int32_t, std::int32_t) {}

double ZARVO_STDCALL GetDeliveryVolume(zarvo_da30* self, std::int32_t line, std::int32_t pump,
                                       double* amount) {
  return AtSlotBoundary(at(self, line, pump), [&] {
    const Delivery delivery = driver_of(self).GetDelivery(line, pump);
    *amount = delivery.amount;
    return delivery.volume;
  });
}

std::uint32_t ZARVO_STDCALL ReadPumpState(zarvo_da30* self, std::int32_t line, std::uint32_t pump) {
  return AtSlotBoundary(at(self, line, low8(pump)),
                        [&] { return driver_of(self).ReadPumpState(line, low8(pump)); });
}

void ZARVO_STDCALL SetPrice(zarvo_da30* self, std::int32_t line, std::int32_t pump,
                            std::int32_t nozzle, std::int32_t, std::int32_t, double price) {
  AtSlotBoundary(at(self, line, pump), [&] {
    ThroughTable table(self);
    driver_of(self).SetPrice(line, pump, nozzle, price, table);
  });
}

void ZARVO_STDCALL Reserved12(zarvo_da30*, std::int32_t, std::int32_t, std::int32_t) {}

void ZARVO_STDCALL PresetVolume(zarvo_da30* self, std::int32_t line, std::int32_t pump,
                                std::uint32_t nozzle, std::int32_t, double volume) {
  AtSlotBoundary(at(self, line, pump), [&] {
    ThroughTable table(self);
    driver_of(self).PresetVolume(line, pump, low8(nozzle), volume, table);
  });
}

void ZARVO_STDCALL PresetAmount(zarvo_da30* self, std::int32_t line, std::int32_t pump,
                                std::uint32_t nozzle, std::int32_t, double amount) {
  AtSlotBoundary(at(self, line, pump), [&] {
    ThroughTable table(self);
    driver_of(self).PresetAmount(line, pump, low8(nozzle), amount, table);
  });
}

void ZARVO_STDCALL Reserved15(zarvo_da30*, std::int32_t, std::int32_t, std::int32_t) {}

std::int32_t ZARVO_STDCALL OpenLine(zarvo_da30* self, std::uint32_t line) {
  constexpr std::uint32_t kMode = 3;
  constexpr std::uint32_t kBaud = 9600;
  return AtSlotBoundary(at(self, low8(line)), [&] {
    return driver_of(self).Port.ConfigureLine(low8(line), kMode, kBaud);
  });
}

std::uint32_t ZARVO_STDCALL ReadParam(zarvo_da30* self, std::uint32_t line, std::uint32_t pump,
                                      std::int32_t number) {
  return AtSlotBoundary(at(self, low8(line), low8(pump)),
                        [&] { return driver_of(self).ReadParam(low8(line), low8(pump), number); });
}

void ZARVO_STDCALL WriteParam(zarvo_da30* self, std::uint32_t line, std::uint32_t pump,
                              std::int32_t number, std::int32_t value) {
  AtSlotBoundary(at(self, low8(line), low8(pump)),
                 [&] { driver_of(self).WriteParam(low8(line), low8(pump), number, value); });
}

void ZARVO_STDCALL Reserved19(zarvo_da30* self, std::int32_t a1, std::int32_t a2, std::int32_t a3,
                              std::int32_t) {
  AtSlotBoundary(at(self), [&] { self->ops->Reserved15(self, a1, a2, a3); });
}

std::uint32_t ZARVO_STDCALL GetCapability(zarvo_da30*, std::uint32_t kind, std::int32_t* value) {
  switch (kind) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 6:
      *value = 0;
      return 1;
    case 5:
      *value = 1;
      return 1;
    case 9:
      *value = 99999;
      return 1;
    default:
      return 0;
  }
}

void ZARVO_STDCALL PollPump(zarvo_poll_result* result, zarvo_da30* self, std::uint32_t line,
                            std::uint32_t pump, std::uint32_t nozzle_count) {
  AtSlotBoundary(at(self, low8(line), low8(pump)), [&] {
    ThroughTable table(self);
    driver_of(self).PollPump(low8(line), low8(pump), low8(nozzle_count),
                             std::span<std::uint8_t, 16>(result->bytes), table);
  });
}

// Slots 22 and 23 take a 32-bit line that slot 4 would cut to its low byte.
std::uint32_t stop_through_slot_4(zarvo_da30* self, std::int32_t line, std::int32_t pump,
                                  std::uint32_t stop_flag) {
  return AtSlotBoundary(at(self, line, pump), [&] {
    if (low8(stop_flag) != 0) RequireLine(line);
    return self->ops->StopPump(self, static_cast<std::uint32_t>(line), pump, low8(stop_flag));
  });
}

std::uint32_t ZARVO_STDCALL StopPumpAlt1(zarvo_da30* self, std::int32_t line, std::int32_t pump,
                                         std::int32_t, std::uint32_t stop_flag) {
  return stop_through_slot_4(self, line, pump, stop_flag);
}

std::uint32_t ZARVO_STDCALL StopPumpAlt2(zarvo_da30* self, std::int32_t line, std::int32_t pump,
                                         std::int32_t, std::uint32_t stop_flag) {
  return stop_through_slot_4(self, line, pump, stop_flag);
}

// What a click on the driver's menu entry runs: called by the host's menu
// item, or by the subclassed window on the entry's WM_COMMAND (sender null).
// The one place where a failed save leaves the driver for the host's menu
// dispatch.
void ZARVO_STDCALL ParamMenuClick(void* context, zarvo_menu_item* sender) {
  const TVM30* bound = *static_cast<TVM30* const*>(context);
  AtSlotBoundary(SlotPlace{bound != nullptr ? &bound->Log : nullptr},
                 [&] { MenuEntryClicked(context, sender); });
}

void ZARVO_STDCALL AddMenuItemsEntry(zarvo_da30* self, zarvo_menu_item* menu_root,
                                     zarvo_new_item_fn new_item) {
  AtSlotBoundary(at(self),
                 [&] { AddMenuItems(driver_of(self), menu_root, new_item, &ParamMenuClick); });
}

void ZARVO_STDCALL Reserved25(zarvo_da30*, std::int32_t, std::int32_t) {}
void ZARVO_STDCALL Reserved26(zarvo_da30*, std::int32_t, std::int32_t) {}

constexpr zarvo_da30_table kTable = {
    kDestroyEntry,
    {
        &Reserved0,     &GetDriverName, &SetLineState, &GetLineState, &StopPump,
        &StopAllPumps,  &GetDelivery,   &ReadTotals,   &Reserved8,    &GetDeliveryVolume,
        &ReadPumpState, &SetPrice,      &Reserved12,   &PresetVolume, &PresetAmount,
        &Reserved15,    &OpenLine,      &ReadParam,    &WriteParam,   &Reserved19,
        &GetCapability, &PollPump,      &StopPumpAlt1, &StopPumpAlt2, &AddMenuItemsEntry,
        &Reserved25,    &Reserved26,
    },
};

}  // namespace

TVM30& DriverOf(zarvo_da30* self) {
  return *object_of(self).driver;
}

}  // namespace zarvo

extern "C" ZARVO_API zarvo_da30* ZARVO_STDCALL GetDA30(std::uint32_t, void* app_window,
                                                       zarvo_port* port) {
  using namespace zarvo;
  return AtSlotBoundary([&] {
    platform::Application().SetHandle(app_window);
    auto* object = new DriverObject{{&kTable.ops}, nullptr};
    try {
      object->driver = new TVM30(port, ReplyCheckRegistration{&CheckReplyEntry, object});
    } catch (...) {
      // The destruction steps, as far as there is anything to destroy.
      FreeParamFrm();
      delete object;
      throw;
    }
    return &object->header;
  });
}
