// `zarvo journal FILE`: the journaled deliveries as a table, CSV or JSON, so
// the journal is useful without an SQLite shell.
#pragma once

#include <string>

#include "host/output/output.h"
#include "host/tools/journal.h"

namespace CLI {
class App;
}

namespace zarvo::host {

struct JournalListOptions {
  std::string path;
  std::string since;  // as given; empty: every delivery
  bool csv = false;
};

// Adds the `journal` subcommand with its options, which parse into `options`.
CLI::App* add_journal_options(CLI::App& app, JournalListOptions& options);

// Lists the deliveries; throws std::runtime_error for a missing file or a
// file that is not a journal. Returns the exit status.
int list_journal(Output& out, const JournalListOptions& options);

// The problem with a --since text, empty when there is none.
std::string since_problem(const std::string& text);

// One journaled delivery as `zarvo --json journal` shows it.
Json journal_row_json(const JournalRow& row);

// One CSV field, quoted when it holds a comma, a quote or a line break.
std::string csv_field(const std::string& text);

}  // namespace zarvo::host
