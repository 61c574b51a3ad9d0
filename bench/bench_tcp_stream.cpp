// TCP stream reads through NolkDataBufferTCP (every read a request handed
// to the completion-port worker and waited for) beside a plain blocking
// recv() loop on the same loopback connection, the least any reader can
// do. Two workloads, as the repair client meets them:
//   - bulk: 1 GiB read in 4 MiB pieces (segment data);
//   - fields: 200,000 records read as 1 + 4 + 4 + 4 bytes (a segment
//     record's flag, name length, checksum and data length).
// Prints MB/s (bulk) and records/s (fields) of both, best of three, and
// the ratio ours / reference.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "net/CPSocketManager.h"
#include "net/NolkDataBufferTCP.h"

namespace {

constexpr std::uint64_t kBulkBytes = std::uint64_t{1} << 30;
constexpr std::uint32_t kBulkPiece = 4u << 20;
constexpr int kRecords = 200000;
constexpr std::uint32_t kFieldSizes[] = {1, 4, 4, 4};
constexpr std::uint32_t kRecordBytes = 13;
constexpr int kRuns = 3;

// A sender on 127.0.0.1 that writes `total` bytes to the first connection
// and closes it.
class Sender {
 public:
  explicit Sender(std::uint64_t total) : m_total(total) {
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener, 1);
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { Serve(); });
  }
  ~Sender() {
    m_thread.join();
    ::close(m_listener);
  }
  std::uint16_t Port() const { return m_port; }

 private:
  void Serve() {
    const int fd = ::accept(m_listener, nullptr, nullptr);
    if (fd < 0) return;
    std::vector<char> chunk(1 << 20, 'k');
    for (std::uint64_t sent = 0; sent < m_total;) {
      const std::size_t piece =
          static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), m_total - sent));
      const ssize_t n = ::send(fd, chunk.data(), piece, MSG_NOSIGNAL);
      if (n <= 0) break;
      sent += static_cast<std::uint64_t>(n);
    }
    ::close(fd);
  }

  std::uint64_t m_total;
  int m_listener = -1;
  std::uint16_t m_port = 0;
  std::thread m_thread;
};

int ConnectPlain(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool RecvExactly(int fd, char* data, std::size_t length) {
  while (length > 0) {
    const ssize_t n = ::recv(fd, data, length, MSG_WAITALL);
    if (n <= 0) return false;
    data += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

// Reads `total` bytes in the given piece sizes (cycling through them).
using PieceReader = std::function<bool(char* data, std::uint32_t length)>;

bool ReadAll(const PieceReader& read, std::uint64_t total, const std::vector<std::uint32_t>& pieces,
             std::vector<char>& buffer) {
  std::size_t next = 0;
  for (std::uint64_t done = 0; done < total;) {
    const std::uint32_t piece = pieces[next++ % pieces.size()];
    if (!read(buffer.data(), piece)) return false;
    done += piece;
  }
  return true;
}

// Seconds for one run over a fresh connection; negative on failure.
double TimeOurs(std::uint64_t total, const std::vector<std::uint32_t>& pieces, std::vector<char>& buffer) {
  Sender sender(total);
  NolkDataBufferTCP stream;
  if (stream.Connect(SocketAddress{SocketAddress::kLoopback, sender.Port()}) != NOLKRESULT_OK) return -1;
  const auto start = std::chrono::steady_clock::now();
  const bool ok =
      ReadAll([&](char* data, std::uint32_t length) { return stream.ReadData(data, length) == 0; }, total,
              pieces, buffer);
  const double seconds = BenchSupport::SecondsSince(start);
  return ok ? seconds : -1;
}

double TimeReference(std::uint64_t total, const std::vector<std::uint32_t>& pieces,
                     std::vector<char>& buffer) {
  Sender sender(total);
  const int fd = ConnectPlain(sender.Port());
  if (fd < 0) return -1;
  const auto start = std::chrono::steady_clock::now();
  const bool ok = ReadAll([&](char* data, std::uint32_t length) { return RecvExactly(fd, data, length); },
                          total, pieces, buffer);
  const double seconds = BenchSupport::SecondsSince(start);
  ::close(fd);
  return ok ? seconds : -1;
}

double Best(const std::function<double()>& run) {
  double best = -1;
  for (int i = 0; i < kRuns; ++i) {
    const double seconds = run();
    if (seconds < 0) return -1;
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

void Report(const char* workload, const char* unit, double amount, double ours, double reference) {
  if (ours <= 0 || reference <= 0) {
    std::printf("%-8s failed\n", workload);
    return;
  }
  std::printf("%-8s NolkDataBufferTCP %10.1f %s   recv() loop %10.1f %s   ratio %.2f\n", workload,
              amount / ours, unit, amount / reference, unit, reference / ours);
}

}  // namespace

int main() {
  CPSocketManager::AddRef(1);
  std::vector<char> buffer(kBulkPiece);
  const std::vector<std::uint32_t> bulk = {kBulkPiece};
  const std::vector<std::uint32_t> fields(std::begin(kFieldSizes), std::end(kFieldSizes));
  const std::uint64_t fieldBytes = std::uint64_t{kRecords} * kRecordBytes;

  const double bulkOurs = Best([&] { return TimeOurs(kBulkBytes, bulk, buffer); });
  const double bulkReference = Best([&] { return TimeReference(kBulkBytes, bulk, buffer); });
  Report("bulk", "MB/s", static_cast<double>(kBulkBytes) / 1e6, bulkOurs, bulkReference);

  const double fieldsOurs = Best([&] { return TimeOurs(fieldBytes, fields, buffer); });
  const double fieldsReference = Best([&] { return TimeReference(fieldBytes, fields, buffer); });
  Report("fields", "records/s", kRecords, fieldsOurs, fieldsReference);
  CPSocketManager::Release();
  return 0;
}
