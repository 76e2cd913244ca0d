// Private-profile semantics on the text of an INI file: section and key names
// match without regard to letter case, the first section and the first key of
// a name win, and a write keeps every other byte of the file as it was.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/ini_file.h"

namespace zarvo::platform {

std::optional<std::string> ini_lookup(std::string_view text, std::string_view section,
                                      std::string_view key);

std::string ini_with_entries(std::string_view text, std::string_view section,
                             std::span<const IniEntry> entries);

}  // namespace zarvo::platform
