// `zarvo shell`: one command a line from standard input, all in one session.
#pragma once

#include <CLI/CLI.hpp>

#include <istream>
#include <string>
#include <vector>

#include "host/commands/command.h"

namespace zarvo::host {

void add_shell_command(CLI::App& app, std::istream& in, Choice& choice);
// 0 when every line's command succeeded, else 1.
int run_shell(Session& session, Output& out, std::istream& in);

}  // namespace zarvo::host
