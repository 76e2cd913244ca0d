#include <windows.h>

#include <stdexcept>

#include "sim/run_end.h"

namespace zarvo::sim {
namespace {

// Set by the console's Ctrl+C, Ctrl+Break and close; the handler is a plain function.
HANDLE console_stop = nullptr;

BOOL WINAPI on_console_stop(DWORD) {
  SetEvent(console_stop);
  return TRUE;
}

}  // namespace

RunEnd::RunEnd() {
  if (console_stop == nullptr) console_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (console_stop == nullptr) throw std::runtime_error("CreateEvent failed");
  SetConsoleCtrlHandler(on_console_stop, TRUE);
}

void RunEnd::wait(bool, const std::function<bool()>& ended) {
  // Standard input is watched only with --pty, which Windows does not have.
  while (!ended()) {
    if (WaitForSingleObject(console_stop, 200) == WAIT_OBJECT_0) return;
  }
}

}  // namespace zarvo::sim
