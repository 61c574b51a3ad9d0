#include <string>
#include <vector>

#include "KernelStandard/platform/TerminationCleanup.h"
#include "tools/publisher/PublisherCommands.h"

// An interrupted or terminated run leaves no partial output behind.
int main(int argc, char** argv) {
  OS::InstallTerminationCleanup();
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  return KorvelTools::RunPackage(arguments);
}
