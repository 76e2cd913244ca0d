// The log's lines: what each recorded event says, in UTF-8. Frames read as in
// the host's trace, from the one place that gives their meaning.
#include <cstdio>
#include <string_view>

#include "codepage/cp1251.h"
#include "driver/log_settings.h"
#include "port/port_dispatcher.h"
#include "protocol/exchange.h"
#include "protocol/exchange_log.h"
#include "protocol/frame_text.h"
#include "zarvo/da30.h"

namespace zarvo {
namespace {

using platform::LogEvent;
using platform::LogRecord;

// Pieces appended one by one: chains of + on strings make GCC 12 warn
// wrongly at -O3 (-Wrestrict).
template <typename... Pieces>
void add(std::string& line, const Pieces&... pieces) {
  (line.append(pieces), ...);
}

std::string_view refusal_text(std::uint8_t detail) {
  switch (static_cast<Refusal>(detail)) {
    case Refusal::kBadCrc:
      return "bad CRC";
    case Refusal::kNoSyn:
      return "no SYN";
    case Refusal::kIncomplete:
      return "incomplete";
    case Refusal::kAnotherPump:
      return "from another pump than the one asked";
  }
  return "?";
}

std::string_view menu_entry_text(std::uint8_t detail) {
  switch (static_cast<MenuEntryOutcome>(detail)) {
    case MenuEntryOutcome::kAddedToHostMenu:
      return "added under the host's \"&ТРК\" item";
    case MenuEntryOutcome::kAddedToWindowMenu:
      return "added to the \"&ТРК\" menu of the host's window";
    case MenuEntryOutcome::kNotAdded:
      return "not added: no \"&ТРК\" item took it";
    case MenuEntryOutcome::kAddedBefore:
      return "not added again: the library adds it once";
  }
  return "?";
}

std::string_view port_entry_text(std::uint8_t detail) {
  switch (static_cast<PortEntry>(detail)) {
    case PortEntry::kSendAndReceive:
      return "SetReplyCheck or SendAndReceive";
    case PortEntry::kGetLineResult:
      return "GetLineResult";
    case PortEntry::kGetRxState:
      return "GetRxState";
    case PortEntry::kInReplyCheck:
      return "SetReplyCode or SetRxState (from the reply check)";
  }
  return "?";
}

void settings_text(const LogRecord& record, std::string& line) {
  add(line, "SDec=", std::to_string(record.values[0]), " PDec=", std::to_string(record.values[1]),
      " MPTRK=", std::to_string(record.values[2]));
}

void received_text(const LogRecord& record, std::string& line) {
  const std::int32_t result = record.values[kResult];
  add(line, "received <", wire::hex_bytes(record.data()), ">");
  // The meaning of a whole reply; what else came is only its bytes.
  if (record.values[kIntact] != 0) add(line, " ", wire::describe_reply(record.data()));
  add(line, "; result ", std::to_string(result));
  if (result == kReplyFromAnotherPump) line += " (no reply from the pump asked)";
  char took[32];
  std::snprintf(took, sizeof took, ", %.1f ms", static_cast<double>(record.micros) / 1000);
  line += took;
  if (record.values[kRefusals] > kRefusalsLogged) {
    add(line, "; the check refused ", std::to_string(record.values[kRefusals]), " replies");
  }
}

}  // namespace

void FormatLogLine(const LogRecord& record, std::string& line) {
  if (record.has_line) {
    add(line, "line ", std::to_string(record.line), " ");
    if (record.pump != platform::kNoPump) add(line, "pump ", std::to_string(record.pump), " ");
  }
  switch (record.event) {
    case LogEvent::kObjectCreated:
      line += "driver object created";
      break;
    case LogEvent::kObjectDestroyed:
      line += "driver object destroyed";
      break;
    case LogEvent::kSettingsLoaded:
      line += "settings loaded: ";
      settings_text(record, line);
      break;
    case LogEvent::kSettingsSaved:
      line += "settings saved: ";
      settings_text(record, line);
      break;
    case LogEvent::kSettingsNotSaved:
      add(line, "settings not saved: ", utf8_from_cp1251(record.text()));
      break;
    case LogEvent::kMenuEntry:
      add(line, "menu entry \"", utf8_from_cp1251(record.text()), "\" ",
          menu_entry_text(record.detail));
      break;
    case LogEvent::kSent:
      add(line, "sent [", wire::hex_bytes(record.data()), "] ",
          wire::describe_request(record.data()));
      break;
    case LogEvent::kReceived:
      received_text(record, line);
      break;
    case LogEvent::kRefused:
      add(line, "refused <", wire::hex_bytes(record.data()), ">: ", refusal_text(record.detail));
      break;
    case LogEvent::kPortException:
      add(line, "the port's ", port_entry_text(record.detail), " raised; absorbed");
      break;
    case LogEvent::kFailure:
      add(line, record.detail == ZARVO_FAILURE_SERIAL_IO ? "ESerialIO" : "Exception",
          " handed to the host: \"", utf8_from_cp1251(record.text()), "\"");
      break;
  }
}

}  // namespace zarvo
