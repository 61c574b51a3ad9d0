// NolkDataBufferTCP against real sockets on 127.0.0.1: the reads the repair
// client makes (4-byte and 6-byte fields, a 4 MiB segment), partial
// deliveries, peer close, refusal, cancel and the inactivity limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "net/CPSocketManager.h"
#include "net/NolkDataBufferTCP.h"
#include "net_test_support.h"
#include "stream/DataCopy.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using namespace NetTest;
using Clock = std::chrono::steady_clock;

std::string LittleEndian32(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
  return bytes;
}

// Sends the bytes one at a time with pauses, so every read meets partial
// deliveries.
void SendTrickle(PeerConnection& connection, const std::string& bytes) {
  connection.NoDelay();
  for (const char byte : bytes) {
    if (!connection.Send(&byte, 1)) return;
    std::this_thread::sleep_for(2ms);
  }
}

TEST(TCPBuffer, FourAndSixByteFieldsArriveWholeAndCountAsPosition) {
  const std::string fields = LittleEndian32(6) + "abcdef";
  TestPeer peer([&](PeerConnection& connection) {
    connection.Send(fields);
    connection.WaitForEnd();
  });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  EXPECT_TRUE(stream.IsConnected());
  std::uint32_t number = 0;
  ASSERT_EQ(stream.ReadData(&number, 4), NOLKRESULT_OK);
  EXPECT_EQ(number, 6u);
  char text[6];
  ASSERT_EQ(stream.ReadData(text, 6), NOLKRESULT_OK);
  EXPECT_EQ(std::string(text, 6), "abcdef");
  EXPECT_EQ(stream.GetPosition(), 10u);
}

TEST(TCPBuffer, FieldsTrickledOneByteAtATimeStillArriveWhole) {
  const std::string fields = LittleEndian32(0x01020304) + "uvwxyz" + LittleEndian32(7);
  TestPeer peer([&](PeerConnection& connection) {
    SendTrickle(connection, fields);
    connection.WaitForEnd();
  });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  std::uint32_t first = 0;
  char middle[6];
  std::uint32_t last = 0;
  EXPECT_EQ(stream.ReadData(&first, 4), NOLKRESULT_OK);
  EXPECT_EQ(stream.ReadData(middle, 6), NOLKRESULT_OK);
  EXPECT_EQ(stream.ReadData(&last, 4), NOLKRESULT_OK);
  EXPECT_EQ(first, 0x01020304u);
  EXPECT_EQ(std::string(middle, 6), "uvwxyz");
  EXPECT_EQ(last, 7u);
  EXPECT_EQ(stream.GetPosition(), 14u);
}

TEST(TCPBuffer, PartialReadsReturnWhatHasArrivedWithFourteen) {
  const std::string bytes = "0123456789";
  TestPeer peer([&](PeerConnection& connection) {
    SendTrickle(connection, bytes);
    connection.WaitForEnd();
  });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  stream.SetPartialReads(true);
  std::string collected;
  int partial = 0;
  while (collected.size() < bytes.size()) {
    char buffer[10];
    const std::uint64_t before = stream.GetPosition();
    const std::size_t wanted = bytes.size() - collected.size();
    const NolkResult result = stream.ReadData(buffer, static_cast<std::uint32_t>(wanted));
    ASSERT_TRUE(result == NOLKRESULT_OK || result == NOLKRESULT_PARTIAL_READ) << result;
    if (result == NOLKRESULT_PARTIAL_READ) ++partial;
    collected.append(buffer, static_cast<std::size_t>(stream.GetPosition() - before));
  }
  EXPECT_EQ(collected, bytes);
  EXPECT_GT(partial, 0) << "a trickling peer must produce partial reads";
}

TEST(TCPBuffer, FourMebibyteSegmentReadInOneCall) {
  const std::string segment = PatternBytes(4 << 20, 7);
  TestPeer peer([&](PeerConnection& connection) {
    for (std::size_t offset = 0; offset < segment.size(); offset += 100000)
      connection.Send(segment.data() + offset, std::min<std::size_t>(100000, segment.size() - offset));
    connection.WaitForEnd();
  });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  std::string received(segment.size(), '\0');
  ASSERT_EQ(stream.ReadData(received.data(), static_cast<std::uint32_t>(received.size())), NOLKRESULT_OK);
  EXPECT_TRUE(received == segment);
  EXPECT_EQ(stream.GetPosition(), segment.size());
}

TEST(TCPBuffer, CopyDataMovesASegmentFromTheStreamIntoMemory) {
  const std::string segment = PatternBytes(300000, 3);
  TestPeer peer([&](PeerConnection& connection) {
    connection.Send(segment);
    connection.WaitForEnd();
  });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  NolkDataBufferMemoryDynamic memory;
  ASSERT_EQ(CopyData(memory, stream, segment.size()), NOLKRESULT_OK);
  ASSERT_EQ(memory.GetSize(), segment.size());
  std::string copied(segment.size(), '\0');
  memory.SetPosition(0);
  memory.ReadData(copied.data(), static_cast<std::uint32_t>(copied.size()));
  EXPECT_TRUE(copied == segment);
}

TEST(TCPBuffer, WritesReachThePeerInOrder) {
  std::string received;
  TestPeer peer([&](PeerConnection& connection) { received = connection.ReceiveAll(); });
  const std::string message = PatternBytes(1 << 20, 5);
  {
    NolkDataBufferTCP stream;
    ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
    const std::string protocol = LittleEndian32(6);
    EXPECT_EQ(stream.WriteData(protocol.data(), 4), NOLKRESULT_OK);
    EXPECT_EQ(stream.WriteData(message.data(), static_cast<std::uint32_t>(message.size())), NOLKRESULT_OK);
    EXPECT_EQ(stream.GetPosition(), 0u) << "only received bytes count";
    EXPECT_EQ(stream.Disconnect(false), NOLKRESULT_OK);
    EXPECT_FALSE(stream.IsConnected());
  }
  ASSERT_TRUE(peer.WaitUntilDone());
  EXPECT_TRUE(received == LittleEndian32(6) + message);
}

TEST(TCPBuffer, PeerCloseEndsTheReadWithThirteen) {
  TestPeer peer([](PeerConnection& connection) { connection.CloseInOrder(); });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  std::uint32_t number = 0;
  EXPECT_EQ(stream.ReadData(&number, 4), NOLKRESULT_CLOSED);
  EXPECT_EQ(stream.GetPosition(), 0u);
}

TEST(TCPBuffer, RefusedConnectIsTwelveAndLeavesTheBufferUnconnected) {
  NolkDataBufferTCP stream;
  EXPECT_EQ(stream.Connect(ClosedPort()), NOLKRESULT_REFUSED);
  EXPECT_FALSE(stream.IsConnected());
}

TEST(TCPBuffer, BufferConnectsAgainAfterARefusalAndAfterADisconnect) {
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(ClosedPort()), NOLKRESULT_REFUSED);
  TestPeer first([](PeerConnection& connection) {
    connection.Send("1");
    connection.WaitForEnd();
  });
  ASSERT_EQ(stream.Connect(first.Address()), NOLKRESULT_OK);
  char byte = 0;
  EXPECT_EQ(stream.ReadData(&byte, 1), NOLKRESULT_OK);
  stream.Disconnect(true);
  TestPeer second([](PeerConnection& connection) {
    connection.Send("2");
    connection.WaitForEnd();
  });
  ASSERT_EQ(stream.Connect(second.Address()), NOLKRESULT_OK);
  EXPECT_EQ(stream.ReadData(&byte, 1), NOLKRESULT_OK);
  EXPECT_EQ(byte, '2');
}

TEST(TCPBuffer, SecondConnectWhileConnectedIsRefusedWithSeven) {
  TestPeer peer([](PeerConnection& connection) { connection.WaitForEnd(); });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  EXPECT_EQ(stream.Connect(peer.Address()), NOLKRESULT_NOT_OPEN);
}

TEST(TCPBuffer, StreamCannotSeekOrResize) {
  NolkDataBufferTCP stream;
  EXPECT_EQ(stream.GetSize(), 0u);
  EXPECT_EQ(stream.SetSize(10), NOLKRESULT_NOT_SUPPORTED);
  EXPECT_EQ(stream.SetPosition(0), NOLKRESULT_NOT_SUPPORTED);
  char byte;
  EXPECT_EQ(stream.ReadData(&byte, 0), NOLKRESULT_OK);
  EXPECT_EQ(stream.WriteData(&byte, 0), NOLKRESULT_OK);
  EXPECT_EQ(stream.ReadData(nullptr, 4), NOLKRESULT_BAD_ARGUMENT);
}

TEST(TCPBuffer, AbortiveDisconnectFromAnotherThreadCancelsAPendingReadPromptly) {
  TestPeer peer([](PeerConnection& connection) { connection.WaitForEnd(); });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  std::atomic<NolkResult> result{-1};
  std::atomic<bool> finished{false};
  std::thread reader([&] {
    std::uint32_t total = 0;
    result = stream.ReadData(&total, 4);
    finished = true;
  });
  std::this_thread::sleep_for(100ms);
  EXPECT_FALSE(finished.load()) << "the silent peer keeps the read waiting";
  const auto start = Clock::now();
  EXPECT_EQ(stream.Disconnect(true), NOLKRESULT_OK);
  reader.join();
  EXPECT_LT(Clock::now() - start, 2s);
  EXPECT_EQ(result.load(), NOLKRESULT_CLOSED);
  EXPECT_FALSE(stream.IsConnected());
}

TEST(TCPBuffer, SilentPeerEndsTheReadAfterTheInactivityLimit) {
  TestPeer peer([](PeerConnection& connection) { connection.WaitForEnd(); });
  NolkDataBufferTCP stream;
  stream.SetInactivityTimeout(250ms);
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  std::uint32_t total = 0;
  const auto start = Clock::now();
  EXPECT_EQ(stream.ReadData(&total, 4), NOLKRESULT_CONNECTION_LOST);
  const auto elapsed = Clock::now() - start;
  EXPECT_GE(elapsed, 240ms);
  EXPECT_LT(elapsed, 10s);
}

TEST(TCPBuffer, EveryBufferHoldsAManagerReferenceForItsLifetime) {
  const int before = CPSocketManager::References();
  {
    NolkDataBufferTCP first;
    NolkDataBufferTCP second;
    // Each buffer holds one reference, and its socket one more.
    EXPECT_EQ(CPSocketManager::References(), before + 4);
  }
  EXPECT_EQ(CPSocketManager::References(), before);
}

}  // namespace
