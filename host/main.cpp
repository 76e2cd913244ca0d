#include <clocale>
#include <iostream>

#include "host/commands/cli.h"

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  return zarvo::host::run_zarvo(argc, argv, std::cin, std::cout, std::cerr);
}
