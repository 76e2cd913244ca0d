#include <clocale>
#include <iostream>

#include "host/commands/cli.h"
#include "host/session/console.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  const zarvo::host::ConsoleText console;
  return zarvo::host::run_zarvo(argc, argv, std::cin, std::cout, std::cerr);
}
