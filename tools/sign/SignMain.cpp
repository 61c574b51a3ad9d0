#include <string>
#include <vector>

#include "tools/sign/SignCommands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return KorvelTools::RunSign(arguments);
}
