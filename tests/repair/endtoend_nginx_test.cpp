// Two repair servers behind nginx's stream module, configured from the
// example shipped with the server (ports replaced by free ones chosen at
// run time, nginx run with its own prefix in a scratch folder and always
// stopped), and several clients repaired through it at once.
#ifdef _WIN32
#include <gtest/gtest.h>

TEST(EndToEndNginxTest, LinuxOnly) {
  GTEST_SKIP() << "Linux only: nginx runs as a Linux child process that the test waits for and stops by "
                  "signal; a Windows program gets no handle to a Linux process it starts under Wine";
}
#else
#include <gtest/gtest.h>

#include <future>

#include "RepairTestSupport.h"
#include "endtoend_test_support.h"

namespace {

using RepairTest::Installation;
using RepairTest::RandomBytes;
using namespace EndToEndTest;

constexpr std::size_t kSegment = 4194304;
const char kNginx[] = "/usr/sbin/nginx";
const char kStreamModule[] = "/usr/lib/nginx/modules/ngx_stream_module.so";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// A port no one listens on right now.
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Accepts(std::uint16_t port) {
  ScriptedClient probe(port);
  return probe.Connected();
}

// nginx in the foreground with a prefix and configuration of its own.
class NginxProcess {
 public:
  NginxProcess(std::uint16_t listen, std::uint16_t first, std::uint16_t second) {
    char pattern[] = "/tmp/korvel-nginx-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return;
    m_prefix = pattern;
    std::string config = ReadText(KORVEL_NGINX_EXAMPLE);
    config = Replace(config, "127.0.0.1:6001", "127.0.0.1:" + std::to_string(first));
    config = Replace(config, "127.0.0.1:6002", "127.0.0.1:" + std::to_string(second));
    config = Replace(config, "listen 6000;", "listen 127.0.0.1:" + std::to_string(listen) + ";");
    config = Cat("pid ", m_prefix, "/nginx.pid;\nerror_log ", m_prefix, "/error.log info;\n", config);
    std::ofstream(m_prefix + "/nginx.conf") << config;
    const std::vector<std::string> arguments{
        kNginx, "-p",         m_prefix, "-c", m_prefix + "/nginx.conf", "-e", m_prefix + "/error.log",
        "-g",   "daemon off;"};
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, kNginx, nullptr, nullptr, argv.data(), environ) != 0) m_pid = -1;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (m_pid > 0 && !Accepts(listen) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(20ms);
  }
  ~NginxProcess() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGTERM);
      const auto end = std::chrono::steady_clock::now() + 10s;
      int status = 0;
      while (::waitpid(m_pid, &status, WNOHANG) != m_pid) {
        if (std::chrono::steady_clock::now() > end) {
          ::kill(m_pid, SIGKILL);
          ::waitpid(m_pid, &status, 0);
          break;
        }
        std::this_thread::sleep_for(10ms);
      }
    }
    std::error_code ignored;
    if (!m_prefix.empty()) std::filesystem::remove_all(m_prefix, ignored);
  }
  NginxProcess(const NginxProcess&) = delete;
  NginxProcess& operator=(const NginxProcess&) = delete;

  bool Started() const { return m_pid > 0; }
  std::string ErrorLog() const { return ReadText(m_prefix + "/error.log"); }

 private:
  std::string m_prefix;
  pid_t m_pid = -1;
};

TEST(EndToEndNginxTest, ClientsRepairedThroughTwoServersBehindNginx) {
  if (!std::filesystem::exists(kNginx) || !std::filesystem::exists(kStreamModule))
    GTEST_SKIP() << "nginx with its stream module is not installed (scripts/install-deps.sh)";
  Installation reference;
  ASSERT_TRUE(reference.Valid());
  reference.Write("bin/Launcher.exe", RandomBytes(2 * kSegment + 9, 1));
  reference.Write("data/world.pak", RandomBytes(kSegment / 2, 2));
  reference.Write("readme.txt", std::string("reference\n"));

  ServerProcess first(reference.Native("").string());
  ServerProcess second(reference.Native("").string());
  ASSERT_TRUE(first.Running() && second.Running()) << first.Log() << second.Log();
  const std::uint16_t listen = FreePort();
  NginxProcess nginx(listen, first.Port(), second.Port());
  ASSERT_TRUE(nginx.Started() && Accepts(listen)) << nginx.ErrorLog();

  constexpr int kClients = 4;
  std::vector<std::unique_ptr<Installation> > clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<Installation>());
    Bytes launcher = reference.Read("bin/Launcher.exe");
    launcher[static_cast<std::size_t>(i) * kSegment] ^= 0x55;  // a different segment each
    clients.back()->Write("bin/Launcher.exe", launcher);
    clients.back()->Write("extra" + std::to_string(i) + ".tmp", std::string("junk"));
  }
  std::vector<std::unique_ptr<RepairRun> > runs;
  for (const auto& client : clients)
    runs.push_back(std::make_unique<RepairRun>(client->Native("").string(), listen));
  for (int i = 0; i < kClients; ++i) {
    EXPECT_EQ(runs[i]->Wait(), 0) << runs[i]->Output();
    EXPECT_EQ(TreeDifference(reference.Native(""), clients[i]->Native("")), "") << "client " << i;
  }
  // Every repair was one complete session on one server or the other, and
  // both took some. (The readiness probes add sessions that end before the
  // protocol number.)
  const auto complete = [](const ServerProcess& server) {
    std::size_t count = 0;
    for (const auto& line : server.SessionLines())
      count += line.find(" complete: ") != std::string::npos ? 1 : 0;
    return count;
  };
  // A server writes its line once it sees the client's close.
  const auto end = std::chrono::steady_clock::now() + 10s;
  while (complete(first) + complete(second) < kClients && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(20ms);
  EXPECT_EQ(complete(first) + complete(second), static_cast<std::size_t>(kClients))
      << first.Log() << second.Log();
  EXPECT_GE(complete(first), 1u) << first.Log();
  EXPECT_GE(complete(second), 1u) << second.Log();
}

}  // namespace
#endif  // _WIN32
