// Windows' names of its serial devices, apart from the system's calls so
// that every build checks them. COM10 and above open only by their device
// path, \\.\COM10, which names every port.
#pragma once

#include <string>
#include <string_view>

namespace zarvo::serial {

// The path to open: a name that begins with \\ is one already (\\.\COM10,
// \\?\COM3), any other is put into the device namespace.
inline std::string com_device_path(std::string_view name) {
  if (name.starts_with("\\\\")) return std::string(name);
  return "\\\\.\\" + std::string(name);
}

// COM3, com3 and \\.\COM3 are one port.
inline std::string com_identity(std::string_view name) {
  if (name.starts_with("\\\\.\\")) name.remove_prefix(4);
  std::string identity(name);
  for (char& c : identity) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return identity;
}

}  // namespace zarvo::serial
