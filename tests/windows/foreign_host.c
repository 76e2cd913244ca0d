/* A host as station applications built with other compilers are: C, MinGW's
 * static runtime (no libgcc DLL in the process), its own structured exception
 * handler around every call into the driver (a frame on FS:[0] on 32-bit x86,
 * a scope of __C_specific_handler on x86-64) and a port object in C. It prints
 * what it receives and ends with "N passed, M failed".
 *
 * Usage: foreign_host ZarvoDll.dll [--libgcc-first | --log]
 * --libgcc-first loads g++'s unwinder DLL before the driver, as another
 * plugin of the host built with MinGW would. --log turns the driver's log on
 * in the settings file first, and then looks in the log for what happened. */
#include <excpt.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "zarvo/da30.h"

#define HOST_PORT_FAILURE 0xE0484F53u /* the host's own code, "\xE0HOS" */

/* How a failure arrives: da30.h's code on 32-bit x86; g++'s own exception on
 * x86-64, with the kind, message and length after g++'s parameter. */
#if defined(__i386__)
#define FAILURE_CODE ZARVO_EXCEPTION_CODE
#define FAILURE_FLAGS EXCEPTION_NONCONTINUABLE
#define FAILURE_FIRST 0
#else
#define FAILURE_CODE 0x20474343u
#define FAILURE_FLAGS 0
#define FAILURE_FIRST 1
#endif

/* ---- the port: the next exchange is silent, answered, or raises ---- */

enum step { SILENT, ANSWER, RAISE };
static enum step next_step = SILENT;
static int configure_raises;
static int reporting_raises; /* SetReplyCode raises, inside the driver's check */
static int bytes_checked;
static int line_result_asked;
static int32_t rx_state;
static zarvo_reply_check check;
static void* check_context;
/* ReplyFrame(4, 'J', "000300") of tests/abi: pump 4 idle, state 228. */
static const uint8_t status_reply[] = {0x16, 0x16, 0x04, 0x07, 0x4A, 0x30, 0x30,
                                       0x30, 0x33, 0x30, 0x30, 0xA2, 0x3C};

static void ZARVO_STDCALL unused(zarvo_port* port) {
  (void)port;
}
static int32_t ZARVO_STDCALL get_line_result(zarvo_port* port, uint32_t line) {
  (void)port, (void)line;
  ++line_result_asked;
  return 1; /* timeout */
}
static void ZARVO_STDCALL set_reply_code(zarvo_port* port, uint32_t line, uint32_t code) {
  (void)port, (void)line, (void)code;
  if (reporting_raises) RaiseException(HOST_PORT_FAILURE, 0, 0, NULL);
}
static void ZARVO_STDCALL set_rx_state(zarvo_port* port, uint32_t line, uint32_t state) {
  (void)port, (void)line;
  rx_state = (int32_t)state;
}
static int32_t ZARVO_STDCALL get_rx_state(zarvo_port* port, uint32_t line) {
  (void)port, (void)line;
  return rx_state;
}
static int32_t ZARVO_STDCALL send_and_receive(zarvo_port* port, uint32_t line, const uint8_t* tx,
                                              uint32_t len, uint8_t* rx, uint32_t a, uint32_t b) {
  enum step step = next_step;
  size_t i;
  (void)port, (void)tx, (void)len, (void)a, (void)b;
  next_step = SILENT;
  if (step == RAISE) RaiseException(HOST_PORT_FAILURE, EXCEPTION_NONCONTINUABLE, 0, NULL);
  if (step == SILENT) return 1;
  for (i = 0; i < sizeof status_reply; ++i) {
    uint8_t stored = (uint8_t)i;
    rx[i] = status_reply[i];
    if (check(check_context, line, rx, 0, &stored, 0) & 0xFF) return 0;
    ++bytes_checked;
  }
  return 2;
}
static int32_t ZARVO_STDCALL configure_line(zarvo_port* port, uint32_t line, uint32_t mode,
                                            uint32_t baud) {
  (void)port, (void)line, (void)mode, (void)baud;
  if (configure_raises) RaiseException(HOST_PORT_FAILURE, 0, 0, NULL);
  return 0;
}
static void ZARVO_STDCALL set_reply_check(zarvo_port* port, uint32_t line, zarvo_reply_check fn,
                                          void* context) {
  (void)port, (void)line;
  check = fn;
  check_context = context;
}

/* ---- calls under the host's own handler ---- */

static EXCEPTION_RECORD caught; /* what the last guarded call raised */

#if defined(__i386__)
static void* resume[5];

static EXCEPTION_DISPOSITION __cdecl host_handler(EXCEPTION_RECORD* record, void* frame,
                                                  CONTEXT* context, void* dispatch) {
  (void)context, (void)dispatch;
  if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) {
    return ExceptionContinueSearch;
  }
  caught = *record;
  RtlUnwind(frame, NULL, record, NULL);
  __builtin_longjmp(resume, 1);
}

/* 1 when the call raised (its record in caught), 0 when it returned. */
static __attribute__((noinline)) int guarded(void (*call)(void*), void* context) {
  EXCEPTION_REGISTRATION_RECORD frame;
  frame.Handler = (PEXCEPTION_ROUTINE)host_handler;
  frame.Next = (EXCEPTION_REGISTRATION_RECORD*)__readfsdword(0);
  __writefsdword(0, (DWORD)(uintptr_t)&frame);
  if (__builtin_setjmp(resume) == 0) {
    call(context);
    __writefsdword(0, (DWORD)(uintptr_t)frame.Next);
    return 0;
  }
  __writefsdword(0, (DWORD)(uintptr_t)frame.Next);
  return 1;
}
#else
static volatile int raised;

__attribute__((used)) static long host_filter(EXCEPTION_POINTERS* info) {
  caught = *info->ExceptionRecord;
  raised = 1;
  return EXCEPTION_EXECUTE_HANDLER;
}

static __attribute__((noinline)) int guarded(void (*call)(void*), void* context) {
  raised = 0;
  __try1(host_filter) call(context);
  __except1;
  return raised;
}
#endif

/* ---- the checks ---- */

static zarvo_da30* driver;
static int passed, failed;
static uint32_t state;

static void expect(int ok, const char* what) {
  ok ? ++passed : ++failed;
  if (!ok) printf("FAILED: %s\n", what);
}

/* The message in UTF-8 for the terminal. */
static const char* shown(const char* cp1251, size_t length) {
  static char utf8[1024];
  WCHAR wide[512];
  int n = MultiByteToWideChar(1251, 0, cp1251, (int)length, wide, 512);
  n = WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8 - 1, NULL, NULL);
  utf8[n > 0 ? n : 0] = '\0';
  return utf8;
}

/* Checks that a failure of the given kind and message arrived and shows it. */
static void expect_failure(const char* call, int raised_now, uint32_t kind, const char* message) {
  const ULONG_PTR* p = caught.ExceptionInformation + FAILURE_FIRST;
  int ours = raised_now && caught.ExceptionCode == FAILURE_CODE &&
             caught.NumberParameters == FAILURE_FIRST + 3;
  if (!raised_now) {
    printf("%s: returned\n", call);
    expect(0, call);
    return;
  }
  printf("%s: code %08lX flags %lu parameters %lu", call, (unsigned long)caught.ExceptionCode,
         (unsigned long)caught.ExceptionFlags, (unsigned long)caught.NumberParameters);
  if (ours) {
    printf(": kind %lu \"%s\" (%lu bytes)", (unsigned long)p[0],
           shown((const char*)p[1], (size_t)p[2]), (unsigned long)p[2]);
  }
  printf("\n");
  expect(ours && caught.ExceptionFlags == FAILURE_FLAGS && p[0] == kind &&
             p[2] == strlen(message) && strcmp((const char*)p[1], message) == 0,
         call);
}

/* ---- the driver's log ---- */

static char settings_file[MAX_PATH + 16];
static char log_file[MAX_PATH + 32];

/* Section ZarvoLog names a log in the working folder; no log there yet. */
static void turn_log_on(void) {
  UINT n = GetWindowsDirectoryA(settings_file, MAX_PATH);
  DWORD m = GetCurrentDirectoryA(MAX_PATH, log_file);
  strcpy(settings_file + n, "\\cnf.INI");
  strcpy(log_file + m, "\\foreign-host.log");
  DeleteFileA(log_file);
  expect(WritePrivateProfileStringA("ZarvoLog", "Path", log_file, settings_file) != 0,
         "the settings file names the log");
}

/* The log's text, its section taken out of the settings file again. */
static void expect_in_log(void) {
  static char text[1 << 16];
  static const char* const lines[] = {
      "driver object created",
      "line 1 pump 4 sent [16 16 04 02 4A 00 42 7C] status request, pump 4",
      "line 1 pump 4 ESerialIO handed to the host: \"Can't GetSost\"",
      "line 1 pump 33 Exception handed to the host: \"Номер колонки выходит за допустимый "
      "диапозон\"",
      "status 000300 (228 nozzle 4 lifted), from pump 4; result 0",
      "line 1 the port's SetReplyCheck or SendAndReceive raised; absorbed",
      "ESerialIO handed to the host: \"Can't STOP All POMP\"",
      "line 1 the port's SetReplyCode or SetRxState (from the reply check) raised; absorbed",
      "driver object destroyed",
  };
  DWORD size = 0;
  size_t i;
  int missing = 0;
  const char* at = text;
  HANDLE file = CreateFileA(log_file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, 0, NULL);
  expect(file != INVALID_HANDLE_VALUE, "the driver wrote its log");
  if (file != INVALID_HANDLE_VALUE) {
    ReadFile(file, text, sizeof text - 1, &size, NULL);
    CloseHandle(file);
  }
  text[size] = '\0';
  printf("the driver's log, %lu bytes\n", (unsigned long)size);
  for (i = 0; i < sizeof lines / sizeof lines[0]; ++i) {
    const char* found = strstr(at, lines[i]);
    printf("  in order: %s: %s\n", lines[i], found ? "yes" : "no");
    expect(found != NULL, lines[i]);
    if (found) at = found;
    missing += found == NULL;
  }
  if (missing) printf("%s", text);
  WritePrivateProfileStringA("ZarvoLog", NULL, NULL, settings_file);
  DeleteFileA(log_file);
}

static void read_pump_state(void* unused_context) {
  (void)unused_context;
  state = driver->ops->ReadPumpState(driver, 1, 4);
}
static void set_price_pump_33(void* unused_context) {
  (void)unused_context;
  driver->ops->SetPrice(driver, 1, 33, 1, 0, 0, 10.0);
}
static void stop_all_pumps(void* unused_context) {
  (void)unused_context;
  driver->ops->StopAllPumps(driver, 1);
}
static void poll_pump(void* unused_context) {
  zarvo_poll_result record;
  (void)unused_context;
  driver->ops->PollPump(&record, driver, 1, 4, 1);
  state = record.bytes[0];
}
static void open_line(void* unused_context) {
  (void)unused_context;
  driver->ops->OpenLine(driver, 2);
}

int main(int argc, char** argv) {
  zarvo_port_ops ops;
  zarvo_port port;
  zarvo_get_da30_fn get_da30;
  HMODULE dll;
  int i, raised_now, logging = 0;
#if defined(__i386__)
  const DWORD chain = __readfsdword(0);
#endif
  if (argc < 2 || argc > 3) {
    printf("usage: %s ZarvoDll.dll [--libgcc-first | --log]\n", argv[0]);
    return 2;
  }
  if (argc == 3 && strcmp(argv[2], "--log") == 0) {
    logging = 1;
    turn_log_on();
  } else if (argc == 3) {
    expect(LoadLibraryA(strcmp(argv[2], "--libgcc-first") == 0 ? "libgcc_s_dw2-1.dll" : "") != NULL,
           "g++'s unwinder DLL loads first");
  }
  ops.slot0 = unused;
  for (i = 0; i < 11; ++i) ops.slot5_to_15[i] = unused;
  ops.slot18 = unused;
  ops.GetLineResult = get_line_result;
  ops.SetReplyCode = set_reply_code;
  ops.SetRxState = set_rx_state;
  ops.GetRxState = get_rx_state;
  ops.SendAndReceive = send_and_receive;
  ops.ConfigureLine = configure_line;
  ops.SetReplyCheck = set_reply_check;
  port.ops = &ops;

  dll = LoadLibraryA(argv[1]);
  get_da30 = dll ? (zarvo_get_da30_fn)(void (*)(void))GetProcAddress(dll, "GetDA30") : NULL;
  expect(get_da30 != NULL, "the DLL loads and exports GetDA30");
  if (get_da30 == NULL) return 1;
  printf("libgcc DLL in the process: %s\n",
         GetModuleHandleA("libgcc_s_dw2-1.dll") || GetModuleHandleA("libgcc_s_seh-1.dll") ? "yes"
                                                                                          : "no");
  driver = get_da30(0, NULL, &port);

  raised_now = guarded(read_pump_state, NULL);
  expect_failure("ReadPumpState on a silent line", raised_now, ZARVO_FAILURE_SERIAL_IO,
                 "Can't GetSost");

  raised_now = guarded(set_price_pump_33, NULL);
  expect_failure("SetPrice for pump 33", raised_now, ZARVO_FAILURE_EXCEPTION,
                 "\xCD\xEE\xEC\xE5\xF0 \xEA\xEE\xEB\xEE\xED\xEA\xE8 \xE2\xFB\xF5\xEE\xE4\xE8\xF2 "
                 "\xE7\xE0 \xE4\xEE\xEF\xF3\xF1\xF2\xE8\xEC\xFB\xE9 \xE4\xE8\xE0\xEF\xEE\xE7\xEE"
                 "\xED");

  /* The first poll writes parameters first: the failure comes from the slot
   * the poll calls through the table. */
  raised_now = guarded(poll_pump, NULL);
  expect_failure("PollPump on a silent line", raised_now, ZARVO_FAILURE_SERIAL_IO, "Can't SetPar");

  next_step = ANSWER;
  state = 0;
  raised_now = guarded(read_pump_state, NULL);
  printf("ReadPumpState answered: %s, state %u\n", raised_now ? "raised" : "returned",
         (unsigned)state);
  expect(!raised_now && state == 228, "the same line answers the next call");

  next_step = RAISE;
  line_result_asked = 0;
  raised_now = guarded(stop_all_pumps, NULL);
  expect_failure("StopAllPumps, the port raising its own exception", raised_now,
                 ZARVO_FAILURE_SERIAL_IO, "Can't STOP All POMP");
  expect(line_result_asked == 1, "the port's failure was absorbed and its line result asked");

  next_step = ANSWER;
  state = 0;
  raised_now = guarded(read_pump_state, NULL);
  expect(!raised_now && state == 228, "the line answers after the port's own failure");

  /* The check rejects what it cannot report, and raises nothing into the port. */
  reporting_raises = 1;
  next_step = ANSWER;
  bytes_checked = 0;
  raised_now = guarded(read_pump_state, NULL);
  expect_failure("ReadPumpState, the port raising in the reply check", raised_now,
                 ZARVO_FAILURE_SERIAL_IO, "Can't GetSost");
  expect(bytes_checked == sizeof status_reply, "the reply check returned at every byte");
  reporting_raises = 0;

  configure_raises = 1;
  raised_now = guarded(open_line, NULL);
  printf("OpenLine, the port raising: %s, code %08lX\n", raised_now ? "raised" : "returned",
         (unsigned long)caught.ExceptionCode);
  expect(raised_now && caught.ExceptionCode == HOST_PORT_FAILURE,
         "a forwarded call's own failure reaches the host unchanged");
  configure_raises = 0;

  next_step = ANSWER;
  state = 0;
  raised_now = guarded(read_pump_state, NULL);
  expect(!raised_now && state == 228, "the line answers after a forwarded failure");

#if defined(__i386__)
  expect(__readfsdword(0) == chain, "nothing of the driver's is left on the handler chain");
#endif
  zarvo_da30_destroy(driver);
  if (logging) {
    expect_in_log();
    /* The log's writer stopped with the last object and holds the library no more. */
    expect(FreeLibrary(dll) && GetModuleHandleA("ZarvoDll.dll") == NULL, "the library unloads");
  }
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
