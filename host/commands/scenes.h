// Longer runs built from the commands: the demo and the settings dialog.
#pragma once

#include "host/output/output.h"
#include "host/session/session.h"

namespace zarvo::host {

// The full cycle against line 1, each step explained in one line.
void demo(Session& session, Output& out);

// Adds the driver's entry under the host menu's "&ТРК" item and clicks it.
void open_settings(Session& session, Output& out);

}  // namespace zarvo::host
