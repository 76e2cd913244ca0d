// A host in miniature: loads the library by path, finds GetDA30 by name (and
// on Windows by ordinal 1), writes the settings file where the driver looks
// for it, and calls the slots through the typed table of da30.h. It runs the
// native library and, under wine, the 64-bit Windows DLL; wine has no gtest,
// so the checks are counted here and the last line reads "N passed, M failed".
//
// Usage: zarvo_table_tour LIBRARY
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <typeinfo>

#include "codepage/cp1251.h"
#include "tests/abi/abi_port.h"
#include "tests/support/settings_dir.h"
#include "tests/support/tally.h"
#include "zarvo/da30.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

using zarvo::abi::AbiPort;
using zarvo::abi::Bytes;
using zarvo::abi::ReplyFrame;

// Set above the low byte of every 8-bit argument: the driver must ignore it.
constexpr std::uint32_t kHigh = 0xA5C3E700;

using zarvo::testing::Tally;
using zarvo::testing::TempSettingsDir;

struct Library {
  zarvo_get_da30_fn by_name = nullptr;
  zarvo_get_da30_fn by_ordinal = nullptr;  // Windows only
};

template <typename Fn, typename Raw>
Fn as_function(Raw raw) {
  // Through void(*)(), the one function type every other converts to quietly.
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(raw));
}

#if defined(_WIN32)
Library load(const char* path) {
  Library lib;
  HMODULE module = LoadLibraryA(path);
  if (module == nullptr) return lib;
  lib.by_name = as_function<zarvo_get_da30_fn>(GetProcAddress(module, "GetDA30"));
  lib.by_ordinal = as_function<zarvo_get_da30_fn>(GetProcAddress(module, MAKEINTRESOURCEA(1)));
  return lib;
}

// Written with the Win32 profile functions, into the Windows directory.
void write_settings(const TempSettingsDir& dir, const char* sdec, const char* pdec,
                    const char* mono) {
  const std::string path = dir.file();
  WritePrivateProfileStringA("Zarvo", "SDec", sdec, path.c_str());
  WritePrivateProfileStringA("Zarvo", "PDec", pdec, path.c_str());
  WritePrivateProfileStringA("Zarvo", "MPTRK", mono, path.c_str());
  WritePrivateProfileStringA(nullptr, nullptr, nullptr, path.c_str());
}
#else
Library load(const char* path) {
  Library lib;
  void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return lib;
  lib.by_name = as_function<zarvo_get_da30_fn>(dlsym(handle, "GetDA30"));
  return lib;
}

// Where the driver looks elsewhere than on Windows: $ZARVO_WINDIR.
void write_settings(const TempSettingsDir& dir, const char* sdec, const char* pdec,
                    const char* mono) {
  dir.write_file(std::string("[zarvo]\r\nsdec=") + sdec + "\r\nPDEC=" + pdec + "\r\nMPTRK=" + mono +
                 "\r\n");
}
#endif

Bytes q_reply(std::uint8_t pump) {
  return ReplyFrame(pump, 'Q', "0");
}

// A write-parameter payload: pump, length 5, then "2", number and value digits.
Bytes param_write(std::uint8_t pump, std::string_view digits) {
  Bytes payload(digits.size() + 2);
  payload[0] = pump;
  payload[1] = 5;
  std::copy(digits.begin(), digits.end(), payload.begin() + 2);
  return payload;
}

void tour_the_table(Tally& t, zarvo_get_da30_fn get_da30) {
  // Settings other than the defaults show that the driver found and read the file.
  const TempSettingsDir settings;
  write_settings(settings, "1", "0", "1");
  AbiPort port;
  int window = 0;
  zarvo_da30* self = get_da30(kHigh | 0x5A, &window, port.port());
  CHECK(t, self != nullptr);
  if (self == nullptr) return;
  const zarvo_da30_ops& ops = *self->ops;

  zarvo_driver_name name;
  std::memset(&name, 0xFF, sizeof name);
  ops.GetDriverName(&name, self);
  constexpr auto kName = zarvo::cp1251("v2.41#Протокол колонок Zarvo");
  CHECK(t, name.bytes[0] == 28);
  CHECK(t, std::string_view(reinterpret_cast<const char*>(name.bytes + 1), 28) == kName.view());

  std::int32_t value = -7;
  CHECK(t, ops.GetCapability(self, 9, &value) == 1 && value == 99999);
  value = -7;
  CHECK(t, ops.GetCapability(self, 0xFFFFFFFF, &value) == 0 && value == -7);

  port.configure_result = 0x12345678;
  CHECK(t, ops.OpenLine(self, kHigh | 7) == 0x12345678);
  CHECK(t, !port.calls().empty() &&
               port.calls().back() == (zarvo::abi::PortCall{"ConfigureLine", 7, 3, 9600}));

  // The first poll programs parameters 40 and 41 from the settings file.
  for (int i = 0; i < 3; ++i) port.answer(q_reply(4));
  port.answer(ReplyFrame(4, 'J', "000300"));
  zarvo_poll_result record;
  std::memset(&record, 0xEE, sizeof record);
  ops.PollPump(&record, self, kHigh | 1, kHigh | 4, kHigh | 1);
  CHECK(t, record.bytes[0] == 228 && record.bytes[1] == 0 && record.bytes[2] == 0xEE &&
               record.bytes[14] == 4 && record.bytes[15] == 0);
  CHECK(t, port.sent().size() == 4);
  if (port.sent().size() == 4) {
    CHECK(t, port.sent()[0] == param_write(4, "24001"));
    CHECK(t, port.sent()[1] == param_write(4, "24100"));
  }
  port.clear_record();

  // With the mono-product flag from the file a one-nozzle pump starts with "1";
  // a pump not polled yet is programmed before its first price.
  for (int i = 0; i < 4; ++i) port.answer(q_reply(2));
  ops.SetPrice(self, 1, 2, 1, 0xDEAD, 0xBEEF, 7.5);
  port.answer(q_reply(2));
  ops.PresetVolume(self, 1, 2, kHigh | 1, 0xDEAD, 3.0);
  CHECK(t, port.sent().size() == 5 && port.sent()[0] == param_write(2, "24001") &&
               port.sent()[4].size() == 18 && port.sent()[4][2] == '1');
  port.clear_record();

  CHECK(t, ops.StopPump(self, kHigh | 1, 5, kHigh) == 0 && port.sent().empty());
  port.answer(q_reply(0));
  CHECK(t, ops.StopAllPumps(self, kHigh | 1) == 1);

  port.answer(ReplyFrame(3, 'R', std::string("\x00\x07", 2) + "3xx" + "0012.34" + "0005.67"));
  CHECK(t, ops.ReadPumpState(self, 1, kHigh | 3) == 219);
  double amount = -1;
  CHECK(t, ops.GetDeliveryVolume(self, 1, 3, &amount) == 5.67 && amount == 12.34);

  port.answer(ReplyFrame(3, '3', "07FF"));
  CHECK(t, ops.ReadParam(self, kHigh | 1, kHigh | 3, 7) == 255);

  // Failures cross the library boundary as C++ exceptions of the header's types.
  bool caught = false;
  try {
    ops.StopPump(self, 1, 33, 1);
  } catch (const zarvo::ESerialIO&) {
    CHECK(t, !"a range error is no line failure");
  } catch (const zarvo::Exception& e) {
    caught = std::string_view(e.what()) ==
             zarvo::cp1251("Номер колонки выходит за допустимый диапозон").view();
  }
  CHECK(t, caught);
  caught = false;
  port.fail(3);
  try {
    ops.ReadParam(self, 1, 3, 7);
  } catch (const zarvo::ESerialIO& e) {
    caught = std::string_view(e.what()) == "Can't GetPar";
  }
  CHECK(t, caught);
  caught = false;
  port.fail(3);
  try {
    ops.WriteParam(self, 1, 3, 40, 2);
  } catch (const std::exception& e) {  // what a host without the library's types sees
    caught = std::string_view(e.what()) == "Can't SetPar";
  }
  CHECK(t, caught);

  // A host exception thrown by the port inside an exchange stays in the driver
  // and becomes the line's result; one from a forwarded call reaches the host.
  caught = false;
  port.raise();
  port.line_result = 7;
  try {
    ops.StopAllPumps(self, 1);
  } catch (const zarvo::ESerialIO& e) {
    caught = std::string_view(e.what()) == "Can't STOP All POMP";
  }
  CHECK(t, caught);
  CHECK(t,
        !port.calls().empty() && port.calls().back() == (zarvo::abi::PortCall{"GetLineResult", 1}));
  caught = false;
  port.configure_raises = true;
  try {
    ops.OpenLine(self, 2);
  } catch (const std::runtime_error& e) {
    caught = std::string_view(e.what()) == "the host's port cannot open the line";
  }
  CHECK(t, caught);
  port.configure_raises = false;

  CHECK(t, port.script_done());
  CHECK(t, port.problems().empty());
  zarvo_da30_destroy(self);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string_view(argv[1]) == "--help") {
    std::printf("usage: %s LIBRARY\nLoads the driver library and calls its table as a host.\n",
                argv[0]);
    return argc == 2 ? 0 : 2;
  }
  Tally t;
  const Library lib = load(argv[1]);
  CHECK(t, lib.by_name != nullptr);
#if defined(_WIN32)
  CHECK(t, lib.by_ordinal == lib.by_name);
#endif
  if (lib.by_name != nullptr) tour_the_table(t, lib.by_name);
  return t.finish();
}
