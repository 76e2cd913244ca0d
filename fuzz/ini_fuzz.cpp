// Any text as a settings file: reading never fails, and a write always reads
// back as written, whatever surrounded it.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/ini_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (std::string_view key : {"SDec", "PDec", "MPTRK"}) {
    (void)zarvo::platform::ini_lookup(text, "Zarvo", key);
  }
  const std::array<zarvo::platform::IniEntry, 3> entries = {
      zarvo::platform::IniEntry{"SDec", "3"}, zarvo::platform::IniEntry{"PDec", "0"},
      zarvo::platform::IniEntry{"MPTRK", "1"}};
  const std::string written = zarvo::platform::ini_with_entries(text, "Zarvo", entries);
  for (const auto& [key, value] : entries) {
    if (zarvo::platform::ini_lookup(written, "Zarvo", key) != value) std::abort();
  }
  return 0;
}
