// Lets C++ exceptions cross between the 32-bit DLL and its host.
//
// 32-bit MinGW unwinds with DWARF tables, and each module registers its
// tables with one unwinder when it starts: with libgcc_s_dw2-1.dll when the
// process has it loaded (a host built with g++'s defaults), else with the
// module's own static copy. Ours is linked in statically, so the DLL needs no
// runtime DLL beside it, but that copy would then know only the DLL's frames
// when a host runs the shared unwinder: every failure would end in
// std::terminate. The linker sends this DLL's unwinder calls here
// (-Wl,--wrap), and they go to the shared unwinder whenever that is the one
// holding our tables, so one unwinder walks host and driver frames alike.
//
// A host that links libgcc statically keeps its tables in its own copy, which
// no other module can reach, and a host of another compiler has no tables at
// all: the search for a handler ends at the host's first frame. A failure
// that the slot boundary raises then goes to the host as a structured
// exception instead (library/failure_boundary.h).
#include <unwind.h>
#include <windows.h>

#include "library/failure_boundary.h"

extern "C" {
_Unwind_Reason_Code __real__Unwind_RaiseException(_Unwind_Exception*);
void __real__Unwind_Resume(_Unwind_Exception*);
_Unwind_Reason_Code __real__Unwind_Resume_or_Rethrow(_Unwind_Exception*);
void __real__Unwind_DeleteException(_Unwind_Exception*);
void* __real__Unwind_GetLanguageSpecificData(_Unwind_Context*);
_Unwind_Ptr __real__Unwind_GetRegionStart(_Unwind_Context*);
_Unwind_Ptr __real__Unwind_GetDataRelBase(_Unwind_Context*);
_Unwind_Ptr __real__Unwind_GetTextRelBase(_Unwind_Context*);
_Unwind_Ptr __real__Unwind_GetIPInfo(_Unwind_Context*, int*);
void __real__Unwind_SetGR(_Unwind_Context*, int, _Unwind_Word);
void __real__Unwind_SetIP(_Unwind_Context*, _Unwind_Ptr);
}

namespace {

// The unwinder entries the C++ runtime and our landing pads use.
struct Unwinder {
  decltype(&__real__Unwind_RaiseException) raise;
  decltype(&__real__Unwind_Resume) resume;
  decltype(&__real__Unwind_Resume_or_Rethrow) resume_or_rethrow;
  decltype(&__real__Unwind_DeleteException) delete_exception;
  decltype(&__real__Unwind_GetLanguageSpecificData) language_specific_data;
  decltype(&__real__Unwind_GetRegionStart) region_start;
  decltype(&__real__Unwind_GetDataRelBase) data_rel_base;
  decltype(&__real__Unwind_GetTextRelBase) text_rel_base;
  decltype(&__real__Unwind_GetIPInfo) ip_info;
  decltype(&__real__Unwind_SetGR) set_gr;
  decltype(&__real__Unwind_SetIP) set_ip;
};

constexpr Unwinder kStaticUnwinder = {
    &__real__Unwind_RaiseException,
    &__real__Unwind_Resume,
    &__real__Unwind_Resume_or_Rethrow,
    &__real__Unwind_DeleteException,
    &__real__Unwind_GetLanguageSpecificData,
    &__real__Unwind_GetRegionStart,
    &__real__Unwind_GetDataRelBase,
    &__real__Unwind_GetTextRelBase,
    &__real__Unwind_GetIPInfo,
    &__real__Unwind_SetGR,
    &__real__Unwind_SetIP,
};

template <typename Function>
bool find_entry(HMODULE module, const char* name, Function& entry) {
  const FARPROC address = GetProcAddress(module, name);
  entry = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
  return address != nullptr;
}

// Where the startup code registered this DLL's tables: the shared unwinder
// when it can find the FDE of a function of ours, else our static copy.
Unwinder choose_unwinder() noexcept {
  const HMODULE shared = GetModuleHandleA("libgcc_s_dw2-1.dll");
  if (shared == nullptr) return kStaticUnwinder;

  struct Bases {
    void* tbase;
    void* dbase;
    void* func;
  };
  const void* (*find_fde)(void*, Bases*) = nullptr;
  Bases bases{};
  void* const our_code = reinterpret_cast<void*>(&choose_unwinder);
  if (!find_entry(shared, "_Unwind_Find_FDE", find_fde) || find_fde(our_code, &bases) == nullptr) {
    return kStaticUnwinder;
  }

  Unwinder unwinder{};
  const bool complete =
      find_entry(shared, "_Unwind_RaiseException", unwinder.raise) &&
      find_entry(shared, "_Unwind_Resume", unwinder.resume) &&
      find_entry(shared, "_Unwind_Resume_or_Rethrow", unwinder.resume_or_rethrow) &&
      find_entry(shared, "_Unwind_DeleteException", unwinder.delete_exception) &&
      find_entry(shared, "_Unwind_GetLanguageSpecificData", unwinder.language_specific_data) &&
      find_entry(shared, "_Unwind_GetRegionStart", unwinder.region_start) &&
      find_entry(shared, "_Unwind_GetDataRelBase", unwinder.data_rel_base) &&
      find_entry(shared, "_Unwind_GetTextRelBase", unwinder.text_rel_base) &&
      find_entry(shared, "_Unwind_GetIPInfo", unwinder.ip_info) &&
      find_entry(shared, "_Unwind_SetGR", unwinder.set_gr) &&
      find_entry(shared, "_Unwind_SetIP", unwinder.set_ip);
  // Our tables are there, so nothing else can walk our frames: use it whole.
  return complete ? unwinder : kStaticUnwinder;
}

// Chosen at the first exception, long after the startup code registered us.
const Unwinder& unwinder() noexcept {
  static const Unwinder chosen = choose_unwinder();
  return chosen;
}

}  // namespace

extern "C" {

_Unwind_Reason_Code __wrap__Unwind_RaiseException(_Unwind_Exception* exception) {
  const bool from_boundary = zarvo::TakeBoundaryRaiseMark();
  const _Unwind_Reason_Code reason = unwinder().raise(exception);
  // A raise returns only when no frame will catch it, before any is unwound.
  if (from_boundary) zarvo::RaiseForForeignHost(exception, unwinder().delete_exception);
  return reason;
}
void __wrap__Unwind_Resume(_Unwind_Exception* exception) {
  unwinder().resume(exception);
}
_Unwind_Reason_Code __wrap__Unwind_Resume_or_Rethrow(_Unwind_Exception* exception) {
  return unwinder().resume_or_rethrow(exception);
}
void __wrap__Unwind_DeleteException(_Unwind_Exception* exception) {
  unwinder().delete_exception(exception);
}
void* __wrap__Unwind_GetLanguageSpecificData(_Unwind_Context* context) {
  return unwinder().language_specific_data(context);
}
_Unwind_Ptr __wrap__Unwind_GetRegionStart(_Unwind_Context* context) {
  return unwinder().region_start(context);
}
_Unwind_Ptr __wrap__Unwind_GetDataRelBase(_Unwind_Context* context) {
  return unwinder().data_rel_base(context);
}
_Unwind_Ptr __wrap__Unwind_GetTextRelBase(_Unwind_Context* context) {
  return unwinder().text_rel_base(context);
}
_Unwind_Ptr __wrap__Unwind_GetIPInfo(_Unwind_Context* context, int* before_insn) {
  return unwinder().ip_info(context, before_insn);
}
void __wrap__Unwind_SetGR(_Unwind_Context* context, int index, _Unwind_Word value) {
  unwinder().set_gr(context, index, value);
}
void __wrap__Unwind_SetIP(_Unwind_Context* context, _Unwind_Ptr value) {
  unwinder().set_ip(context, value);
}

}  // extern "C"
