// `zarvo shell`: one command a line from standard input, all in one session.
#pragma once

#include <CLI/CLI.hpp>

#include <istream>
#include <string>
#include <vector>

#include "host/commands/command.h"

namespace zarvo::host {

void add_shell_command(CLI::App& app, std::istream& in, Choice& choice);
// 0 when every line's command succeeded, else the status of the first that
// failed; a command ended by an interrupt ends the shell at once.
int run_shell(Session& session, Output& out, std::istream& in);

}  // namespace zarvo::host
