// Helpers of the repair client tests: a scripted repair server on
// 127.0.0.1 (the socket tests' peer, speaking the repair protocol from the
// test's script), segment records built byte by byte, and a client task
// configured on a scratch installation and run to its end.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "RepairTestSupport.h"
#include "net/net_test_support.h"
#include "repair/NolkAgentClientTask.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/Compression.h"
#include "stream/NolkDataBufferMemory.h"

namespace RepairClientTest {

using namespace std::chrono_literals;
using NetTest::PeerConnection;

constexpr std::size_t kSegment = 4u << 20;

inline std::string Le32(std::uint32_t value) {
  std::string bytes;
  NolkUtil::AppendLe32(value, bytes);
  return bytes;
}

// The server's checksum of a segment's bytes (0 is reserved for "missing").
inline std::uint32_t Checksum(const std::string& bytes) {
  const std::uint32_t crc = RepairTest::BitwiseCrc(bytes.data(), bytes.size());
  return crc == 0 ? 1 : crc;
}

inline std::string Compressed(const std::string& plain) {
  NolkDataBufferMemoryStatic source(const_cast<char*>(plain.data()),
                                    static_cast<std::uint32_t>(plain.size()));
  NolkDataBufferMemoryDynamic destination;
  EXPECT_EQ(NolkUtil::CompressData(destination, source), NOLKRESULT_OK);
  return std::string(destination.Bytes().begin(), destination.Bytes().end());
}

// One record exactly as it goes on the wire; `data` is sent as given.
inline std::string Record(bool compressed, const std::wstring& name, std::uint32_t checksum,
                          const std::string& data) {
  std::string bytes(1, compressed ? '\1' : '\0');
  NolkUtil::AppendCountedName(name, bytes);
  bytes += Le32(checksum);
  bytes += Le32(static_cast<std::uint32_t>(data.size()));
  bytes += data;
  return bytes;
}
inline std::string RawRecord(const std::wstring& name, const std::string& plain) {
  return Record(false, name, Checksum(plain), plain);
}
inline std::string PackedRecord(const std::wstring& name, const std::string& plain) {
  return Record(true, name, Checksum(plain), Compressed(plain));
}
inline std::string MissingRecord(const std::wstring& name) {
  return Record(false, name, 0, "");
}

inline bool ReceiveExactly(PeerConnection& connection, std::string& bytes, std::size_t length) {
  bytes.clear();
  char chunk[65536];
  while (bytes.size() < length) {
    const std::size_t received = connection.ReceiveSome(chunk, std::min(sizeof chunk, length - bytes.size()));
    if (received == 0) return false;
    bytes.append(chunk, received);
  }
  return true;
}
inline bool ReceiveLe32(PeerConnection& connection, std::uint32_t& value) {
  std::string bytes;
  if (!ReceiveExactly(connection, bytes, 4)) return false;
  value = NolkUtil::LoadLe32(reinterpret_cast<const unsigned char*>(bytes.data()));
  return true;
}

// What the server learnt from the client.
struct ServerView {
  std::uint32_t protocol = 0;
  bool summaryComplete = false;
  std::map<std::wstring, std::uint32_t> summary;  // name key -> checksum
};

// The server's side of the handshake: reads the protocol number, answers
// with `answer` and, when that is 6, reads the whole summary.
inline bool Handshake(PeerConnection& connection, ServerView& view, std::uint32_t answer = 6) {
  if (!ReceiveLe32(connection, view.protocol)) return false;
  if (!connection.Send(Le32(answer)) || answer != 6) return false;
  std::uint32_t magic = 0;
  std::uint32_t count = 0;
  if (!ReceiveLe32(connection, magic) || magic != NolkUtil::kSummaryMagic || !ReceiveLe32(connection, count))
    return false;
  for (std::uint32_t entry = 0; entry < count; ++entry) {
    std::uint32_t units = 0;
    std::string name;
    std::string rest;
    if (!ReceiveLe32(connection, units) || !ReceiveExactly(connection, name, 2u * units) ||
        !ReceiveExactly(connection, rest, 12))
      return false;
    std::wstring key;
    for (std::uint32_t unit = 0; unit < units; ++unit)
      key += static_cast<wchar_t>(static_cast<unsigned char>(name[2 * unit]) |
                                  (static_cast<unsigned char>(name[2 * unit + 1]) << 8));
    view.summary[key] = NolkUtil::LoadLe32(reinterpret_cast<const unsigned char*>(rest.data()));
  }
  view.summaryComplete = true;
  return true;
}

// A whole exchange: handshake, the announced total, then the bytes given
// (normally `total` records), and the server waits until the client hangs
// up (or the test ends).
inline NetTest::TestPeer::Script Serve(ServerView& view, std::uint32_t total, std::string records,
                                       bool closeAfterRecords = false) {
  return [&view, total, records = std::move(records), closeAfterRecords](PeerConnection& connection) {
    if (!Handshake(connection, view)) return;
    connection.Send(Le32(total) + records);
    if (closeAfterRecords) {
      connection.CloseInOrder();
      return;
    }
    connection.WaitForEnd();
  };
}

// A client task on a scratch installation; the cache is "repair.cks" in it
// and the uninstaller is excluded, as the repair run configures it.
class ClientRun {
 public:
  explicit ClientRun(const RepairTest::Installation& installation) : m_installation(installation) {}

  void Configure(const SocketAddress& server, std::chrono::milliseconds inactivity = 20s) {
    ASSERT_EQ(task.SetRootFolder(m_installation.Wide()), NOLKRESULT_OK);
    ASSERT_EQ(task.SetSummaryFile(m_installation.Wide(L"repair.cks")), NOLKRESULT_OK);
    ASSERT_EQ(task.SetServerAddress(server), NOLKRESULT_OK);
    ASSERT_EQ(task.SetExclusions({m_installation.Wide(L"unins000.exe")}), NOLKRESULT_OK);
    ASSERT_EQ(task.SetInactivityLimit(inactivity), NOLKRESULT_OK);
  }
  // Starts the task and waits (bounded) until it is no longer busy.
  bool RunToEnd(const SocketAddress& server, std::chrono::milliseconds inactivity = 20s) {
    Configure(server, inactivity);
    task.Start();
    return WaitUntilIdle();
  }
  bool WaitUntilIdle(std::chrono::milliseconds limit = 30s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (task.IsBusy()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  NolkPatch::NolkAgentClientTask task;

 private:
  const RepairTest::Installation& m_installation;
};

}  // namespace RepairClientTest
