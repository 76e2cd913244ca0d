#include "library/failure_boundary.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#if defined(_WIN32)
#include <cxxabi.h>
#include <unwind.h>
#include <windows.h>
#endif

namespace zarvo {
namespace {

// The last failure on this thread. Trivially destructible: nothing to run
// when a thread of the host ends.
struct FailureRecord {
  FailureKind kind = FailureKind::kException;
  std::size_t length = 0;
  std::array<char, 512> message{};  // NUL-terminated; longer messages are cut
};
thread_local FailureRecord t_failure;
// The failure on its way out was raised by DeliverFailure: an entry that
// catches it was the caller of another entry, which logged it.
thread_local bool t_delivered = false;

// No object with a destructor is alive in this frame when the exception
// leaves it, so a host's unwind that skips our frames leaves nothing behind.
[[noreturn]] __attribute__((noinline)) void throw_failure(FailureKind kind, const char* message,
                                                          std::size_t length) {
  if (kind == FailureKind::kSerialIO) throw ESerialIO(std::string(message, length));
  throw Exception(std::string(message, length));
}

#if defined(_WIN32)
thread_local bool t_boundary_raise = false;
#endif

}  // namespace

FailureKind RememberFailure(FailureKind kind, const char* message) noexcept {
  FailureRecord& record = t_failure;
  record.kind = kind;
  record.length = std::min(std::strlen(message), record.message.size() - 1);
  std::copy_n(message, record.length, record.message.begin());
  record.message[record.length] = '\0';
  return kind;
}

void ForgetDeliveredFailure() noexcept {
  t_delivered = false;
}

void LogFailure(const SlotPlace& place) noexcept {
  if (t_delivered) return;
  const FailureRecord& record = t_failure;
  place.log->Record(platform::LogEvent::kFailure, [&](platform::LogRecord& logged) {
    logged.has_line = place.has_line;
    logged.line = place.line;
    logged.pump = place.pump;
    logged.detail = static_cast<std::uint8_t>(record.kind);
    logged.set_text(std::string_view(record.message.data(), record.length));
  });
}

void DeliverFailure(FailureKind kind) {
  const FailureRecord& record = t_failure;
  t_delivered = true;
#if defined(_WIN32)
  t_boundary_raise = true;
#endif
  throw_failure(kind, record.message.data(), record.length);
}

#if defined(_WIN32)
bool TakeBoundaryRaiseMark() noexcept {
  return std::exchange(t_boundary_raise, false);
}
#endif

#if defined(_WIN32) && defined(__i386__)

void RaiseForForeignHost(_Unwind_Exception* exception,
                         void (*delete_exception)(_Unwind_Exception*)) {
  // What __cxa_throw added before raising, taken back as a handler would
  // (the Itanium C++ ABI's layout of the per-thread globals).
  struct EhGlobals {
    void* caught_exceptions;
    unsigned int uncaught_exceptions;
  };
  delete_exception(exception);
  --reinterpret_cast<EhGlobals*>(abi::__cxa_get_globals())->uncaught_exceptions;

  const FailureRecord& record = t_failure;
  const ULONG_PTR parameters[3] = {
      static_cast<ULONG_PTR>(record.kind),
      reinterpret_cast<ULONG_PTR>(record.message.data()),
      static_cast<ULONG_PTR>(record.length),
  };
  RaiseException(ZARVO_EXCEPTION_CODE, EXCEPTION_NONCONTINUABLE, 3, parameters);
  __builtin_unreachable();
}
#endif

}  // namespace zarvo

#if defined(_WIN32) && defined(__x86_64__)
// On x86-64 g++ raises its exceptions as the structured exception
// STATUS_GCC_THROW, which every frame's handler sees in turn: whether a
// frame of the host catches it by type cannot be told apart from a foreign
// handler taking it. The raise stays g++'s, and a failure's carries the kind
// and the message after g++'s own parameter, for hosts of other compilers.
extern "C" {
_Unwind_Reason_Code __real__Unwind_RaiseException(_Unwind_Exception* exception);

_Unwind_Reason_Code __wrap__Unwind_RaiseException(_Unwind_Exception* exception) {
  if (!zarvo::TakeBoundaryRaiseMark()) return __real__Unwind_RaiseException(exception);
  constexpr DWORD kGccThrow = 0x20474343;  // STATUS_GCC_THROW of libgcc's unwind-seh.c
  const auto& record = zarvo::t_failure;
  const ULONG_PTR parameters[4] = {
      reinterpret_cast<ULONG_PTR>(exception),
      static_cast<ULONG_PTR>(record.kind),
      reinterpret_cast<ULONG_PTR>(record.message.data()),
      static_cast<ULONG_PTR>(record.length),
  };
  // What the real raise does, with the parameters added.
  std::memset(exception->private_, 0, sizeof exception->private_);
  RaiseException(kGccThrow, 0, 4, parameters);
  return _URC_END_OF_STACK;
}
}  // extern "C"
#endif
