// The driver's log as the settings file turns it on: section "ZarvoLog" of
// cnf.INI, beside the section "Zarvo" and never touching it.
//   Path=C:\Zarvo\zarvo.log   the log's file; a relative path is taken from
//                             the settings file's folder. No Path, no log.
//   MaxSizeKB=10240           the size at which the file is rotated (16 KiB to 1 GiB)
//   Keep=5                    old files kept as Path.1 (newest) .. Path.5 (0 to 99)
#pragma once

#include <optional>
#include <string>

#include "platform/driver_log.h"

namespace zarvo {

inline constexpr std::uint64_t kDefaultLogKiB = 10240;
inline constexpr unsigned kDefaultLogFilesKept = 5;

// What became of the driver's menu entry, for the log.
enum class MenuEntryOutcome : std::uint8_t {
  kAddedToHostMenu,
  kAddedToWindowMenu,
  kNotAdded,
  kAddedBefore,
};

// The log's settings, or nothing when the file does not turn the log on.
// Values that are no number give the defaults; numbers beyond their range,
// the nearest end of it.
std::optional<platform::LogSettings> LogSettingsFromFile();

// Opens the object's log when the settings file turns it on.
void OpenDriverLog(platform::DriverLog& log);

// The text of a log line after its time: "line 1 pump 3 sent [16 16 ..] status request, pump 3".
void FormatLogLine(const platform::LogRecord& record, std::string& line);

}  // namespace zarvo
