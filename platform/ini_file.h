// The settings file: a Windows INI (private profile) file. On Windows the
// Win32 functions do the work; elsewhere ini_text.h gives the same semantics.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace zarvo::platform {

// The settings directory plus the file name, built afresh on every call.
std::string IniFilePath();

// The value of key in section, or nothing when the file, section or key is absent.
std::optional<std::string> ReadIniString(const std::string& path, std::string_view section,
                                         std::string_view key);

// A value without the blanks (spaces, tabs) around it.
std::string_view TrimIniBlanks(std::string_view text);

// An integer value: a whole decimal number of 32 bits, blanks around it
// allowed, or nothing.
std::optional<long long> ParseIniInteger(std::string_view text);

using IniEntry = std::pair<std::string_view, std::string>;

// Writes every entry into section, creating the file and section when missing,
// and raises std::runtime_error (message in code page 1251, with the reason)
// when the file cannot be written. Elsewhere than on Windows an existing file
// is updated in place, never left half-written by a failed save.
void WriteIniStrings(const std::string& path, std::string_view section,
                     std::span<const IniEntry> entries);

}  // namespace zarvo::platform
