/*
 * Zarvo dispenser driver: the host ABI.
 *
 * A host loads the library, calls GetDA30 and from then on talks to the
 * returned driver object through its table of 27 operations. The host owns
 * the serial lines: it passes its port object to GetDA30 and the driver sends
 * every frame through it. Everything a host needs is in this header.
 *
 * Conventions
 * - Every entry uses the stdcall convention (the only convention on x86-64).
 *   On 32-bit x86 every argument takes one 32-bit stack cell (a double two).
 * - Except the destroy entry before slot 0, called like the root class's
 *   destructor of the station hosts' language: on 32-bit x86 the object in
 *   EAX (the outermost flag in DL is ignored), no stack argument, a plain
 *   return, EBX, ESI, EDI and EBP preserved; on x86-64 the object in RCX.
 *   zarvo_da30_destroy below makes that call for C and C++ hosts.
 * - Arguments documented as 8-bit are declared 32-bit: the driver reads only
 *   their low byte. Boolean and 8-bit results come back zero-extended.
 * - Texts are single-byte code page 1251, both in and out.
 * - Lines are 1..40, pumps 1..32, nozzles 1..6.
 * - No operation reports failure in its result. Failures leave the library
 *   as C++ exceptions (zarvo::Exception and zarvo::ESerialIO below) to a
 *   host whose C++ handler catches them; on 32-bit Windows, when no frame of
 *   the host would catch them so, as the structured exception
 *   ZARVO_EXCEPTION_CODE below. The host's port may fail inside an exchange
 *   (C++ or structured exception): the driver absorbs it.
 *
 * Thread safety: calls on one driver object for different lines may run at
 * the same time; calls for the same line must not overlap, and the menu and
 * settings dialog belong to the host's user-interface thread.
 */
#ifndef ZARVO_DA30_H
#define ZARVO_DA30_H

#include <stddef.h>
#include <stdint.h>

#if defined(__i386__) || defined(_M_IX86)
#if defined(_MSC_VER)
#define ZARVO_STDCALL __stdcall
#else
#define ZARVO_STDCALL __attribute__((stdcall))
#endif
#else
#define ZARVO_STDCALL
#endif

/* The destroy entry's convention: the object in EAX on 32-bit x86. GCC and
 * Clang declare it as regparm(1); MSVC has no such attribute, so there the
 * entry's type is nominal and zarvo_da30_destroy calls it in assembly. */
#if (defined(__i386__) || defined(_M_IX86)) && (defined(__GNUC__) || defined(__clang__))
#define ZARVO_DESTROY_CALL __attribute__((regparm(1)))
#else
#define ZARVO_DESTROY_CALL
#endif

#if defined(_WIN32)
#if defined(ZARVO_BUILDING_LIBRARY)
#define ZARVO_API __declspec(dllexport)
#else
#define ZARVO_API __declspec(dllimport)
#endif
#else
#define ZARVO_API __attribute__((visibility("default")))
#endif

/* The exception classes are complete in this header; the library exports
 * them, and a host needs no import for them. */
#if defined(_WIN32)
#if defined(ZARVO_BUILDING_LIBRARY)
#define ZARVO_EXCEPTION_API __declspec(dllexport)
#else
#define ZARVO_EXCEPTION_API
#endif
#else
#define ZARVO_EXCEPTION_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---------------------------------------------------------------------- */
/* A failure as a structured exception (32-bit Windows), for hosts that do
 * not catch the C++ types: raised with EXCEPTION_NONCONTINUABLE and three
 * parameters: [0] the kind below, [1] the address of the NUL-terminated
 * message (code page 1251), [2] its length in bytes. The message belongs to
 * the library (one per thread) and stays valid at least until the next
 * failing call on the same thread. On 64-bit Windows such a host sees g++'s
 * own STATUS_GCC_THROW (0x20474343, continuable) with four parameters: [0]
 * g++'s exception object, not to be touched, then kind, message and length
 * (docs/HOSTS.md). */
#define ZARVO_EXCEPTION_CODE 0xE05A5256u /* customer bit set; "\xE0ZRV" */
#define ZARVO_FAILURE_EXCEPTION 1        /* zarvo::Exception: a refused call */
#define ZARVO_FAILURE_SERIAL_IO 2        /* zarvo::ESerialIO: an exchange failed */

/* ---------------------------------------------------------------------- */
/* Pump states: what ReadPumpState (slot 10) returns and PollPump writes into
 * byte 0 of its record. The driver files them from the pump's replies; a
 * "+ k" state carries the nozzle k (1..6) or the reply's digit. */
#define ZARVO_PUMP_NOTHING_DECODED 0 /* also: the last reply was not taken */
#define ZARVO_PUMP_ENDED_IDLE 1      /* idle after an ended, acknowledged transaction */
#define ZARVO_PUMP_IDLE 192
#define ZARVO_PUMP_TRANSACTION_ENDED 216 /* ended, acknowledged by the driver right away */
/* 216 + k: nozzle k authorized. From live readings 216 + the reading's state
 * digit: 217 fuelling, 218 stopped. */
#define ZARVO_PUMP_AUTHORIZED 216
/* 224 + the command answer's digit: 224 accepted, 225 refused. */
#define ZARVO_PUMP_ANSWER 224
#define ZARVO_PUMP_LIFTED 224            /* + k: nozzle k lifted */
#define ZARVO_PUMP_LIFTED_AUTHORIZED 232 /* + k: nozzle k lifted and authorized */
#define ZARVO_PUMP_FAULT 255

/* The reply check's verdicts, reported through SetReplyCode (port slot 2). */
#define ZARVO_REPLY_GOOD 0
#define ZARVO_REPLY_BAD_CRC 222
#define ZARVO_REPLY_NO_SYN 223
#define ZARVO_REPLY_INCOMPLETE 246

/* Reception states, reported through SetRxState (port slot 3). */
#define ZARVO_RX_COMPLETE 1
#define ZARVO_RX_MORE_NEEDED 3

/* SendAndReceive's last two arguments, the same on every exchange: 42, and
 * the SYN byte (22) that starts every frame. */
#define ZARVO_SEND_CONSTANT 42
#define ZARVO_SYN 0x16

/* ---------------------------------------------------------------------- */
/* The host's port object. Its first word points at a table of 20 entries;  */
/* the driver calls entries 1, 2, 3, 4, 16, 17 and 19 only.                 */

typedef struct zarvo_port zarvo_port;

/* The reply check the driver registers for a line. The port calls it after
 * storing each reply byte, with `stored` pointing at its count of stored bytes
 * (the index of the last stored byte), and reads the low byte of the result:
 * non-zero means the bytes stored so far form a complete, intact reply. */
typedef uint32_t(ZARVO_STDCALL* zarvo_reply_check)(void* context, uint32_t line,
                                                   const uint8_t* rxbuf, uint32_t ignored1,
                                                   const uint8_t* stored, uint32_t ignored2);

typedef void(ZARVO_STDCALL* zarvo_port_unused)(zarvo_port* port);

typedef struct zarvo_port_ops {
  zarvo_port_unused slot0;
  /* 1: the line's result code, asked after SendAndReceive raised. */
  int32_t(ZARVO_STDCALL* GetLineResult)(zarvo_port* port, uint32_t line);
  /* 2: the reply check's verdict, one of ZARVO_REPLY_*. */
  void(ZARVO_STDCALL* SetReplyCode)(zarvo_port* port, uint32_t line, uint32_t code);
  /* 3: reception state, one of ZARVO_RX_*. */
  void(ZARVO_STDCALL* SetRxState)(zarvo_port* port, uint32_t line, uint32_t state);
  /* 4: the reception state; low byte ZARVO_RX_COMPLETE means the last reply was accepted. */
  int32_t(ZARVO_STDCALL* GetRxState)(zarvo_port* port, uint32_t line);
  zarvo_port_unused slot5_to_15[11];
  /* 16: sends txlen bytes, stores the reply from its first SYN byte into rxbuf
   * (255 bytes), consulting the registered check after each byte; 0 means a
   * reply was accepted. May raise. The driver passes ZARVO_SEND_CONSTANT and ZARVO_SYN. */
  int32_t(ZARVO_STDCALL* SendAndReceive)(zarvo_port* port, uint32_t line, const uint8_t* txbuf,
                                         uint32_t txlen, uint8_t* rxbuf, uint32_t arg42,
                                         uint32_t syn);
  /* 17: opens the line; the driver passes mode 3 and 9600 baud. */
  int32_t(ZARVO_STDCALL* ConfigureLine)(zarvo_port* port, uint32_t line, uint32_t mode,
                                        uint32_t baud);
  zarvo_port_unused slot18;
  /* 19: registers the reply check for the line, before every exchange. */
  void(ZARVO_STDCALL* SetReplyCheck)(zarvo_port* port, uint32_t line, zarvo_reply_check check,
                                     void* context);
} zarvo_port_ops;

struct zarvo_port {
  const zarvo_port_ops* ops;
};

/* ---------------------------------------------------------------------- */
/* Host menu items, used by AddMenuItems (slot 24). */

typedef struct zarvo_menu_item zarvo_menu_item;

typedef void(ZARVO_STDCALL* zarvo_menu_click)(void* context, zarvo_menu_item* sender);

/* The first word of every menu item's table. No code address can equal it
 * (Windows maps nothing below 64 KiB), so the driver tells a zarvo_menu_item
 * from another library's menu object, whose first word points at code, and
 * calls nothing on an object whose table does not start with it. */
#define ZARVO_MENU_SIGNATURE ((uintptr_t)0x7A30u)

/* Windows: for a root that is no zarvo_menu_item, the driver appends its entry
 * to the drop-down of the menu-bar item "&TRK" in Cyrillic (code page 1251
 * bytes 26 D2 D0 CA) of one of the host's windows, with this WM_COMMAND
 * identifier, or the next one up to ZARVO_MENU_COMMAND_ID + 15 that the menu
 * bar does not use yet (see docs/HOSTS.md). */
#define ZARVO_MENU_COMMAND_ID 0xDA30u

typedef struct zarvo_menu_item_ops {
  uintptr_t signature; /* ZARVO_MENU_SIGNATURE */
  int32_t(ZARVO_STDCALL* GetCount)(zarvo_menu_item* item);
  zarvo_menu_item*(ZARVO_STDCALL* GetItem)(zarvo_menu_item* item, int32_t index);
  /* NUL-terminated, code page 1251; valid until the caption changes. */
  const char*(ZARVO_STDCALL* GetCaption)(zarvo_menu_item* item);
  void(ZARVO_STDCALL* SetCaption)(zarvo_menu_item* item, const char* caption);
  void(ZARVO_STDCALL* SetHint)(zarvo_menu_item* item, const char* hint);
  void(ZARVO_STDCALL* SetHelpContext)(zarvo_menu_item* item, int32_t help_context);
  void(ZARVO_STDCALL* SetShortCut)(zarvo_menu_item* item, uint32_t shortcut);
  /* handler NULL clears the click handler. */
  void(ZARVO_STDCALL* SetOnClick)(zarvo_menu_item* item, zarvo_menu_click handler, void* context);
} zarvo_menu_item_ops;

struct zarvo_menu_item {
  const zarvo_menu_item_ops* ops;
};

/* Creates a menu item already placed under parent at index (-1: at the end). */
typedef zarvo_menu_item*(ZARVO_STDCALL* zarvo_new_item_fn)(zarvo_menu_item* parent, int32_t index);

/* ---------------------------------------------------------------------- */
/* The driver object and its operation table. */

typedef struct zarvo_da30 zarvo_da30;

/* The record PollPump fills: bytes 0, 1, 14 and 15 are written, the rest kept. */
typedef struct zarvo_poll_result {
  uint8_t bytes[16];
} zarvo_poll_result;

/* The length-prefixed driver name GetDriverName writes (29 bytes used). */
typedef struct zarvo_driver_name {
  uint8_t bytes[29];
} zarvo_driver_name;

typedef struct zarvo_da30_ops {
  /* 0 */ void(ZARVO_STDCALL* Reserved0)(zarvo_da30* self);
  /* 1 */ void(ZARVO_STDCALL* GetDriverName)(zarvo_driver_name* result, zarvo_da30* self);
  /* 2 */ void(ZARVO_STDCALL* SetLineState)(zarvo_da30* self, uint32_t line8, uint32_t state8);
  /* 3 */ int32_t(ZARVO_STDCALL* GetLineState)(zarvo_da30* self, uint32_t line8);
  /* 4 */ uint32_t(ZARVO_STDCALL* StopPump)(zarvo_da30* self, uint32_t line8, int32_t pump,
                                            uint32_t stop_flag8);
  /* 5 */ uint32_t(ZARVO_STDCALL* StopAllPumps)(zarvo_da30* self, uint32_t line8);
  /* 6 */ void(ZARVO_STDCALL* GetDelivery)(zarvo_da30* self, int32_t line, int32_t pump,
                                           double* volume, double* amount);
  /* 7 */ void(ZARVO_STDCALL* ReadTotals)(zarvo_da30* self, int32_t line, int32_t pump,
                                          uint32_t nozzle8, double* first, double* second,
                                          int32_t ignored1, int32_t ignored2);
  /* 8 */ void(ZARVO_STDCALL* Reserved8)(zarvo_da30* self, int32_t a1, int32_t a2, int32_t a3,
                                         int32_t a4, int32_t a5, int32_t a6, int32_t a7);
  /* 9 */ double(ZARVO_STDCALL* GetDeliveryVolume)(zarvo_da30* self, int32_t line, int32_t pump,
                                                   double* amount);
  /* 10 */ uint32_t(ZARVO_STDCALL* ReadPumpState)(zarvo_da30* self, int32_t line, uint32_t pump8);
  /* 11 */ void(ZARVO_STDCALL* SetPrice)(zarvo_da30* self, int32_t line, int32_t pump,
                                         int32_t nozzle, int32_t ignored1, int32_t ignored2,
                                         double price);
  /* 12 */ void(ZARVO_STDCALL* Reserved12)(zarvo_da30* self, int32_t a1, int32_t a2, int32_t a3);
  /* 13 */ void(ZARVO_STDCALL* PresetVolume)(zarvo_da30* self, int32_t line, int32_t pump,
                                             uint32_t nozzle8, int32_t ignored, double volume);
  /* 14 */ void(ZARVO_STDCALL* PresetAmount)(zarvo_da30* self, int32_t line, int32_t pump,
                                             uint32_t nozzle8, int32_t ignored, double amount);
  /* 15 */ void(ZARVO_STDCALL* Reserved15)(zarvo_da30* self, int32_t a1, int32_t a2, int32_t a3);
  /* 16 */ int32_t(ZARVO_STDCALL* OpenLine)(zarvo_da30* self, uint32_t line8);
  /* 17 */ uint32_t(ZARVO_STDCALL* ReadParam)(zarvo_da30* self, uint32_t line8, uint32_t pump8,
                                              int32_t param_no);
  /* 18 */ void(ZARVO_STDCALL* WriteParam)(zarvo_da30* self, uint32_t line8, uint32_t pump8,
                                           int32_t param_no, int32_t value);
  /* 19 */ void(ZARVO_STDCALL* Reserved19)(zarvo_da30* self, int32_t a1, int32_t a2, int32_t a3,
                                           int32_t a4);
  /* 20 */ uint32_t(ZARVO_STDCALL* GetCapability)(zarvo_da30* self, uint32_t kind, int32_t* value);
  /* 21 */ void(ZARVO_STDCALL* PollPump)(zarvo_poll_result* result, zarvo_da30* self,
                                         uint32_t line8, uint32_t pump8, uint32_t nozzle_count8);
  /* 22 */ uint32_t(ZARVO_STDCALL* StopPumpAlt1)(zarvo_da30* self, int32_t line, int32_t pump,
                                                 int32_t ignored, uint32_t stop_flag8);
  /* 23 */ uint32_t(ZARVO_STDCALL* StopPumpAlt2)(zarvo_da30* self, int32_t line, int32_t pump,
                                                 int32_t ignored, uint32_t stop_flag8);
  /* 24 */ void(ZARVO_STDCALL* AddMenuItems)(zarvo_da30* self, zarvo_menu_item* menu_root,
                                             zarvo_new_item_fn new_item);
  /* 25 */ void(ZARVO_STDCALL* Reserved25)(zarvo_da30* self, int32_t a1, int32_t a2);
  /* 26 */ void(ZARVO_STDCALL* Reserved26)(zarvo_da30* self, int32_t a1, int32_t a2);
} zarvo_da30_ops;

/* The destroy entry: on 32-bit x86 the object in EAX, nothing on the stack
 * (see Conventions). Call it through zarvo_da30_destroy. */
typedef void(ZARVO_DESTROY_CALL* zarvo_da30_destroy_entry)(zarvo_da30* self);

/* The table as laid out in memory: the destroy entry sits just before slot 0,
 * and the object's first word points at slot 0. */
typedef struct zarvo_da30_table {
  zarvo_da30_destroy_entry Destroy;
  zarvo_da30_ops ops;
} zarvo_da30_table;

struct zarvo_da30 {
  const zarvo_da30_ops* ops;
};

/* The one export, by name (ordinal 1 on Windows). reserved8 is ignored,
 * app_window becomes the owner of the driver's windows, port stays the host's. */
ZARVO_API zarvo_da30* ZARVO_STDCALL GetDA30(uint32_t reserved8, void* app_window, zarvo_port* port);
typedef zarvo_da30*(ZARVO_STDCALL* zarvo_get_da30_fn)(uint32_t reserved8, void* app_window,
                                                      zarvo_port* port);

/* Destroys a driver object through the entry before slot 0, the object in
 * EAX on 32-bit x86 whatever the compiler. */
static inline void zarvo_da30_destroy(zarvo_da30* self) {
  const zarvo_da30_table* table =
      (const zarvo_da30_table*)(const void*)((const char*)(const void*)self->ops -
                                             offsetof(zarvo_da30_table, ops));
#if defined(_M_IX86) && defined(_MSC_VER) && !defined(__clang__)
  zarvo_da30_destroy_entry entry = table->Destroy;
  __asm {
    mov eax, self
    mov edx, 1
    call entry
  }
#else
  table->Destroy(self);
#endif
}

#ifdef __cplusplus
} /* extern "C" */

#include <exception>
#include <string>
#include <utility>

namespace zarvo {

/* Every failure of the driver. what() is the message in code page 1251.
 * Defined here in full, so that a host that loads the library at run time
 * (dlopen, LoadLibrary) catches these by type with nothing but this header:
 * the C++ runtime matches the host's and the library's type information by
 * name. */
class ZARVO_EXCEPTION_API Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

/* A dispenser exchange failed; the message names the command. */
class ZARVO_EXCEPTION_API ESerialIO : public Exception {
 public:
  explicit ESerialIO(std::string message) : Exception(std::move(message)) {}
};

}  // namespace zarvo
#endif /* __cplusplus */

#endif /* ZARVO_DA30_H */
