// A host's program against the operation table: calls of any slot with any
// arguments, and a fresh driver object now and then over a settings file of
// any content. Every exchange is answered by a port the input drives. After
// every call the invariants are checked; a broken one aborts. The parts: the
// input read as a program (table/program.h), the port (table/fuzz_port.h),
// the invariants (table/invariants.h) and the calls (table/session.h).
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "fuzz/table/program.h"
#include "fuzz/table/session.h"

using zarvo::table_fuzz::settings_dir;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("ZARVO_WINDIR", settings_dir().c_str(), 1);
  std::atexit([] { std::filesystem::remove_all(settings_dir()); });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zarvo::table_fuzz::Program program(data, size);
  zarvo::table_fuzz::Session session(program);
  while (!program.done()) session.step();
  return 0;
}
