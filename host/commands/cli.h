// The `zarvo` command line: global options, the subcommands, and the shell
// that runs one subcommand a line in a single session.
#pragma once

#include <istream>
#include <ostream>

namespace zarvo::host {

// Returns the process's exit status: 0 on success.
int run_zarvo(int argc, const char* const* argv, std::istream& in, std::ostream& out,
              std::ostream& err);

}  // namespace zarvo::host
