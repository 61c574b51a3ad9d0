// korvel-registry: command-line access to the registry store.
//
//   korvel-registry [--file PATH] get KEY NAME        print a value (a DWORD in decimal)
//   korvel-registry [--file PATH] set KEY NAME VALUE  store a string (creates the key)
//   korvel-registry [--file PATH] set-dword KEY NAME N
//   korvel-registry [--file PATH] delete KEY NAME     remove a value
//   korvel-registry [--file PATH] delete-key KEY      remove a key and its subkeys
//   korvel-registry [--file PATH] list KEY            subkeys, one per line
//   korvel-registry [--file PATH] values KEY          values in registry file syntax
//
//   korvel-registry [--file PATH] --help              this usage, on standard output
//
// KEY is relative to HKEY_LOCAL_MACHINE (a leading "HKEY_LOCAL_MACHINE\" or
// "HKLM\" is accepted). Without --file the store named by KORVEL_REGISTRY,
// else the system default, is used. Exit status: 0 success (and --help), 1
// the key or value does not exist, 2 usage error or failed write.
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "KernelStandard/platform/Platform.h"
#include "KernelStandard/platform/RegistryStore.h"

namespace {

constexpr int kSuccess = 0;
constexpr int kMissing = 1;
constexpr int kFailure = 2;

const char* const kUsage =
    "usage: korvel-registry [--file PATH] COMMAND\n"
    "  get KEY NAME | set KEY NAME VALUE | set-dword KEY NAME N\n"
    "  delete KEY NAME | delete-key KEY | list KEY | values KEY\n";

const char* const kHelp =
    "Reads and changes the registry store (registry export format).\n"
    "  get KEY NAME              print a value (a DWORD in decimal)\n"
    "  set KEY NAME VALUE        store a string (creates the key)\n"
    "  set-dword KEY NAME N      store a DWORD (creates the key)\n"
    "  delete KEY NAME           remove a value\n"
    "  delete-key KEY            remove a key and its subkeys\n"
    "  list KEY                  subkeys, one per line\n"
    "  values KEY                values in registry file syntax\n"
    "KEY is below HKEY_LOCAL_MACHINE (a leading HKEY_LOCAL_MACHINE\\ or HKLM\\ is accepted).\n"
    "Exit status: 0 done, 1 no such key or value, 2 usage error or failed write.\n";

struct Invocation {
  std::string command;
  std::vector<std::string> operands;
  OS::RegistryStore store;
};

bool WantsHelp(const std::vector<std::string>& arguments) {
  return arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h");
}

// Ends with the store a command would use: the --file store, else the one
// the patcher uses.
int Help(const std::string& file) {
  const std::string text =
      std::string(kUsage) + kHelp + "Store: " + OS::RegistryStore(file).FilePath() + "\n";
  return OS::Current().WriteStdout(text.data(), text.size()) ? kSuccess : kFailure;
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "korvel-registry: %s\n%s", problem.c_str(), kUsage);
  return kFailure;
}

std::wstring KeyArgument(const std::string& text) {
  std::wstring key = OS::FromUtf8(text);
  for (const std::wstring prefix : {L"HKEY_LOCAL_MACHINE", L"HKLM"}) {
    if (key.size() >= prefix.size() && OS::RegistryNamesEqual(key.substr(0, prefix.size()), prefix) &&
        (key.size() == prefix.size() || key[prefix.size()] == L'\\')) {
      return key.substr(prefix.size());
    }
  }
  return key;
}

int Report(const Invocation& call, const std::string& what) {
  const int error = OS::GetLastError();
  const bool missing = error == OS::ERROR_FILE_NOT_FOUND;
  std::fprintf(stderr, "korvel-registry: %s: %s (error %d, store %s)\n", call.command.c_str(), what.c_str(),
               error, call.store.FilePath().c_str());
  return missing ? kMissing : kFailure;
}

std::string FormatValue(const OS::RegistryValue& value) {
  switch (value.type) {
    case OS::RegistryValueType::String:
    case OS::RegistryValueType::Other:
      return OS::ToUtf8(value.text);
    case OS::RegistryValueType::Dword:
      break;
  }
  return std::to_string(value.dword);
}

std::string Quote(const std::wstring& text) {
  std::string quoted = "\"";
  for (const char c : OS::ToUtf8(text)) {
    if (c == '\\' || c == '"') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

std::string QuoteName(const std::wstring& name) {
  return name.empty() ? "@" : Quote(name);
}

std::string ValueLine(const OS::RegistryValue& value) {
  char dword[16];
  switch (value.type) {
    case OS::RegistryValueType::String:
      return QuoteName(value.name) + "=" + Quote(value.text);
    case OS::RegistryValueType::Dword:
      std::snprintf(dword, sizeof dword, "dword:%08x", static_cast<unsigned>(value.dword));
      return QuoteName(value.name) + "=" + dword;
    case OS::RegistryValueType::Other:
      break;
  }
  return QuoteName(value.name) + "=" + OS::ToUtf8(value.text);
}

int Get(Invocation& call) {
  std::vector<OS::RegistryValue> values;
  const std::wstring name = OS::FromUtf8(call.operands[1]);
  if (!call.store.GetValues(KeyArgument(call.operands[0]), values)) return Report(call, "cannot read key");
  for (const OS::RegistryValue& value : values) {
    if (OS::RegistryNamesEqual(value.name, name)) {
      std::printf("%s\n", FormatValue(value).c_str());
      return kSuccess;
    }
  }
  OS::SetLastError(OS::ERROR_FILE_NOT_FOUND);
  return Report(call, "no such value");
}

int SetString(Invocation& call) {
  const std::wstring key = KeyArgument(call.operands[0]);
  if (!call.store.CreateKey(key) ||
      !call.store.SetString(key, OS::FromUtf8(call.operands[1]), OS::FromUtf8(call.operands[2]))) {
    Report(call, "cannot write value");
    return kFailure;
  }
  return kSuccess;
}

int SetDword(Invocation& call) {
  std::uint32_t number = 0;
  const std::string& text = call.operands[2];
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), number);
  if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
    return Usage("not a 32-bit unsigned number: " + text);
  }
  const std::wstring key = KeyArgument(call.operands[0]);
  if (!call.store.CreateKey(key) || !call.store.SetDword(key, OS::FromUtf8(call.operands[1]), number)) {
    Report(call, "cannot write value");
    return kFailure;
  }
  return kSuccess;
}

int DeleteValue(Invocation& call) {
  if (call.store.DeleteValue(KeyArgument(call.operands[0]), OS::FromUtf8(call.operands[1]))) return kSuccess;
  return Report(call, "cannot delete value");
}

int DeleteKey(Invocation& call) {
  if (call.store.DeleteKey(KeyArgument(call.operands[0]))) return kSuccess;
  return Report(call, "cannot delete key");
}

int List(Invocation& call) {
  const std::wstring key = KeyArgument(call.operands[0]);
  if (!call.store.KeyExists(key)) return Report(call, "cannot read key");
  for (const std::wstring& name : call.store.EnumSubkeys(key)) std::printf("%s\n", OS::ToUtf8(name).c_str());
  return kSuccess;
}

int Values(Invocation& call) {
  std::vector<OS::RegistryValue> values;
  if (!call.store.GetValues(KeyArgument(call.operands[0]), values)) return Report(call, "cannot read key");
  for (const OS::RegistryValue& value : values) std::printf("%s\n", ValueLine(value).c_str());
  return kSuccess;
}

struct Command {
  const char* name;
  std::size_t operandCount;
  int (*run)(Invocation&);
};

const Command kCommands[] = {
    {"get", 2, Get},
    {"set", 3, SetString},
    {"set-dword", 3, SetDword},
    {"delete", 2, DeleteValue},
    {"delete-key", 1, DeleteKey},
    {"list", 1, List},
    {"values", 1, Values},
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::string file;
  if (arguments.size() >= 2 && arguments[0] == "--file") {
    file = arguments[1];
    arguments.erase(arguments.begin(), arguments.begin() + 2);
  }
  if (WantsHelp(arguments)) return Help(file);
  if (arguments.empty()) return Usage("no command given");
  Invocation call{arguments[0], {arguments.begin() + 1, arguments.end()}, OS::RegistryStore(file)};
  for (const Command& command : kCommands) {
    if (call.command != command.name) continue;
    if (call.operands.size() != command.operandCount)
      return Usage("wrong number of operands for " + call.command);
    const int status = command.run(call);
    std::fflush(stdout);
    return status;
  }
  return Usage("unknown command " + call.command);
}
