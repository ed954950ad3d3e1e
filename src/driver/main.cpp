#include <iostream>

#include "driver/driver.h"
#include "platform/platform.h"

int main(int argc, char* argv[]) {
  std::ios::sync_with_stdio(false);
  tubefit::UseBinaryConsole();
  tubefit::KeepFreedMemory();
  tubefit::Console console{std::cout, std::cin};
  const int status = tubefit::RunProgram(argc, argv, console);
  std::cout.flush();
  return status;
}
