#include "host/commands/shell.h"

#include "host/commands/command_set.h"

namespace zarvo::host {

namespace {

std::vector<std::string> split_words(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (const char c : text) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return words;
}

}  // namespace

void add_shell_command(CLI::App& app, std::istream& in, Choice& choice) {
  auto* shell = app.add_subcommand("shell", "run one command a line from standard input");
  shell->callback([&in, &choice] {
    choice.action = [&in](Session& s, Output& o) { return run_shell(s, o, in); };
  });
}

int run_shell(Session& session, Output& out, std::istream& in) {
  int first_failure = exit_status::kDone;
  const auto failed = [&first_failure](int status) {
    if (first_failure == exit_status::kDone) first_failure = status;
  };
  // One parser for every line: building it costs more than a status exchange
  // at 115200 baud.
  CLI::App app("One command a line; the session keeps its state between lines.", "");
  app.require_subcommand(1);
  CommandSet commands(app, false, in);
  std::string text;
  while (std::getline(in, text)) {
    std::vector<std::string> words = split_words(text);
    if (words.empty() || words.front().starts_with('#')) continue;
    if (words.front() == "quit" || words.front() == "exit") break;
    commands.reset();
    try {
      std::vector<std::string> reversed(words.rbegin(), words.rend());
      app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
      out.err() << app.help();
      continue;
    } catch (const CLI::ParseError& e) {
      out.failure(words.front(), e.what(), exit_status::kUsage);
      failed(exit_status::kUsage);
      continue;
    }
    const int status = run_guarded(commands.choice().action, session, out, words.front());
    if (status == exit_status::kInterrupted) return status;
    if (status != exit_status::kDone) failed(status);
  }
  return first_failure;
}

}  // namespace zarvo::host
