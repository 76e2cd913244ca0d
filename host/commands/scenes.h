// Longer runs built from the commands: the demo and the settings dialog.
#pragma once

#include "host/output/output.h"
#include "host/session/session.h"

namespace zarvo::host {

// The full cycle against line 1, each step explained in one line.
void demo(Session& session, Output& out);

// Adds the driver's entry under the host menu's "&ТРК" item and clicks it, in
// a session of its own: on Windows the menu is a window's menu bar, as a
// station host's is, and the window owns the dialog. Returns the exit status.
int open_settings(const SessionOptions& options, Output& out);

}  // namespace zarvo::host
