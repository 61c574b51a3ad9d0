#include "rundriver_test_support.h"

#include "tests/KernelStandard/posix_test_shims.h"

namespace rundrivertest {
namespace {

std::mutex g_mutex;
std::vector<Message> g_messages;

void RecordMessage(int level, const std::wstring& text) {
  std::lock_guard lock(g_mutex);
  g_messages.emplace_back(level, text);
}

}  // namespace

ScopedVariable::ScopedVariable(const char* name, std::optional<std::string> value) : m_name(name) {
  if (const char* old = getenv(name)) m_old = old;
  if (value) {
    setenv(name, value->c_str(), 1);
  } else {
    unsetenv(name);
  }
}

ScopedVariable::~ScopedVariable() {
  if (m_old) {
    setenv(m_name.c_str(), m_old->c_str(), 1);
  } else {
    unsetenv(m_name.c_str());
  }
}

void RunDriverTest::SetUp() {
  char pattern[] = "/tmp/korvel-rundriver-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  m_root = pattern;
  m_install = m_root / "install";
  fs::create_directories(m_install);
  UseTemporaryRoot(m_root / "temp");
  m_registryVariable.emplace("KORVEL_REGISTRY", (m_root / "registry.reg").string());
  NolkPatch::PatchSettings::Get().Reset();
  NolkPatch::PatchSettings::Get().InstallPath = m_install.wstring();
  {
    std::lock_guard lock(g_mutex);
    g_messages.clear();
  }
  NolkPatch::SetLogSink(RecordMessage);
}

void RunDriverTest::TearDown() {
  NolkPatch::SetLogSink(nullptr);
  NolkPatch::PatchSettings::Get().Reset();
  m_tempVariable.reset();
  m_registryVariable.reset();
  std::error_code ignored;
  fs::remove_all(m_root, ignored);
}

void RunDriverTest::UseTemporaryRoot(const fs::path& root) {
  m_temp = root;
  m_tempVariable.reset();
  m_tempVariable.emplace("TEMP", root.string());
}

std::vector<Message> RunDriverTest::Messages() {
  std::lock_guard lock(g_mutex);
  return g_messages;
}

std::vector<std::wstring> RunDriverTest::Texts() {
  std::vector<std::wstring> texts;
  for (const Message& message : Messages()) texts.push_back(message.second);
  return texts;
}

std::vector<fs::path> RunDriverTest::TemporaryFolders() const {
  std::vector<fs::path> folders;
  std::error_code ignored;
  if (!fs::exists(m_temp, ignored)) return folders;
  for (const fs::directory_entry& entry : fs::directory_iterator(m_temp))
    if (entry.is_directory()) folders.push_back(entry.path());
  return folders;
}

}  // namespace rundrivertest
