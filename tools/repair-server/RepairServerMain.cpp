// korvel-repair-server: serves a reference installation to repair clients.
// Exit codes: 0 after a stop by SIGINT or SIGTERM, 1 when the reference
// cannot be served or the port cannot be used, 2 for a bad command line.
#include <cstdio>
#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "stream/NolkDataBufferFile.h"
#include "tools/repair-server/RepairServer.h"
#include "tools/repair-server/ServerLog.h"
#include "tools/repair-server/ServerOptions.h"

namespace {

using namespace KorvelRepairServer;

// Writes the port beside the file's name and moves it into place, so that a
// reader polling for the file never sees a partial one.
bool WritePortFile(const std::wstring& path, std::uint16_t port) {
  const std::wstring staged = path + L".part";
  const std::string text = std::to_string(port) + "\n";
  {
    NolkDataBufferFile file(staged, NolkDataBufferFile::WriteNew);
    if (!file.IsOpen() ||
        file.WriteData(text.data(), static_cast<std::uint32_t>(text.size())) != NOLKRESULT_OK)
      return false;
  }
  return OS::Current().ReplaceFile(staged, path);
}

int Serve(const ServerOptions& options) {
  ReferenceIndex reference;
  const ReferenceIndex::BuildReport report = reference.Build(options.root, options.indexFile);
  std::fflush(stdout);
  if (!report.ok) {
    std::fprintf(stderr, "korvel-repair-server: cannot serve %s: %s\n", OS::ToUtf8(options.root).c_str(),
                 report.error.c_str());
    return 1;
  }
  if (!report.indexSaved)
    LogLine("warning: the index " + OS::ToUtf8(options.indexFile) +
            " could not be written; the next start reads "
            "every file again");
  if (report.unreadableSegments != 0)
    LogLine("warning: " + std::to_string(report.unreadableSegments) +
            " reference segments are unreadable and are "
            "not served");

  RepairServer server(reference, options.listen);
  std::string error;
  if (!server.Listen(error)) {
    std::fprintf(stderr, "korvel-repair-server: %s\n", error.c_str());
    return 1;
  }
  LogLine("serving " + OS::ToUtf8(reference.Root()) + " (" + std::to_string(reference.SegmentCount()) +
          " segments in " + std::to_string(reference.Files().size()) + " files, index " +
          (report.indexReused ? "reused" : "built") + ") on port " + std::to_string(server.Port()) +
          " with " + std::to_string(server.ThreadCount()) + " threads");
  // Written last: a script that sees the port file finds the server ready.
  if (!options.portFile.empty() && !WritePortFile(options.portFile, server.Port())) {
    std::fprintf(stderr, "korvel-repair-server: cannot write the port file %s\n",
                 OS::ToUtf8(options.portFile).c_str());
    return 1;
  }
  server.Run();
  LogLine("stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  ServerOptions options;
  std::string error;
  if (!ParseServerOptions(arguments, options, error)) {
    std::fprintf(stderr, "korvel-repair-server: %s\n%s", error.c_str(), ServerUsage());
    return 2;
  }
  if (options.help) {
    std::fputs(ServerUsage(), stdout);
    return 0;
  }
  return Serve(options);
}
