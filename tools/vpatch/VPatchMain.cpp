#include <string>
#include <vector>

#include "tools/vpatch/VPatchCommand.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return KorvelTools::RunVPatch(arguments);
}
