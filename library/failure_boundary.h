// Where a failure leaves the library. Every entry a host calls runs its body
// through AtSlotBoundary: a failure is caught there, after the driver's own
// frames have unwound (nothing held, nothing left to clean up), and then
// raised afresh to the host. A host that catches the C++ types gets them as
// ever; on 32-bit Windows a host no C++ handler of which would catch it gets
// the structured exception of da30.h instead (ZARVO_EXCEPTION_CODE).
#pragma once

#include <cstdint>
#include <utility>

#include "platform/driver_log.h"
#include "zarvo/da30.h"

namespace zarvo {

enum class FailureKind : std::uint32_t {
  kException = ZARVO_FAILURE_EXCEPTION,
  kSerialIO = ZARVO_FAILURE_SERIAL_IO,
};

// Copies the message into this thread's failure record (it outlives the
// exception, for the structured exception's parameters).
FailureKind RememberFailure(FailureKind kind, const char* message) noexcept;

// Raises the remembered failure to the caller of the entry.
[[noreturn]] void DeliverFailure(FailureKind kind);

// Where an entry's failure goes into the driver's log: the object's log, and
// the line and pump the host named.
struct SlotPlace {
  const platform::DriverLog* log = nullptr;
  bool has_line = false;
  std::int32_t line = 0;
  std::int32_t pump = platform::kNoPump;
};

// An entry that logs starts afresh: no failure of its own is on its way yet.
void ForgetDeliveredFailure() noexcept;
// Logs the remembered failure, unless it is one that an entry called through
// the table delivered (and logged) already.
void LogFailure(const SlotPlace& place) noexcept;

// Runs an entry's body. The entry keeps every object with a destructor
// inside the body: a host that catches the failure by a structured handler
// unwinds the entry's own frame without running anything in it.
template <typename Body>
decltype(auto) AtSlotBoundary(const SlotPlace& place, Body&& body) {
  const bool logging = place.log != nullptr && place.log->on();
  if (logging) ForgetDeliveredFailure();
  FailureKind kind = FailureKind::kException;
  try {
    return body();
  } catch (const ESerialIO& failure) {
    kind = RememberFailure(FailureKind::kSerialIO, failure.what());
  } catch (const Exception& failure) {
    kind = RememberFailure(FailureKind::kException, failure.what());
  }
  // Outside the handler, so that the caught exception is gone too.
  if (logging) LogFailure(place);
  DeliverFailure(kind);
}

template <typename Body>
decltype(auto) AtSlotBoundary(Body&& body) {
  return AtSlotBoundary(SlotPlace{}, std::forward<Body>(body));
}

}  // namespace zarvo

#if defined(_WIN32)
namespace zarvo {
// For the unwinder's raise (-Wl,--wrap): whether this raise is
// DeliverFailure's. The mark is taken, so nothing is left behind whatever
// the raise finds.
bool TakeBoundaryRaiseMark() noexcept;
}  // namespace zarvo
#endif

#if defined(_WIN32) && defined(__i386__)
struct _Unwind_Exception;

namespace zarvo {

// When the unwinder found no frame to catch DeliverFailure's exception
// (nothing is unwound yet): drops the exception and raises the remembered
// failure as the structured exception of da30.h instead.
[[noreturn]] void RaiseForForeignHost(_Unwind_Exception* exception,
                                      void (*delete_exception)(_Unwind_Exception*));

}  // namespace zarvo
#endif
