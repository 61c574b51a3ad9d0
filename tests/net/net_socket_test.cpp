// TCPSocket and the socket manager against real sockets on 127.0.0.1.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "KernelStandard/KernelObjects.h"
#include "KernelStandard/platform/FaultInjection.h"
#include "net/CPSocketManager.h"
#include "net/IOOperation.h"
#include "net/NolkDataBufferTCP.h"
#include "net/SocketErrors.h"
#include "net/TCPSocket.h"
#include "net_test_support.h"

namespace {

using namespace NetTest;
using Clock = std::chrono::steady_clock;

struct Outcome {
  NolkResult error = -1;
  std::uint32_t systemError = 0;
  std::uint32_t bytes = 0;
};

enum class Kind { Connect, Read, Write, Disconnect };

// One request, made the way a user thread makes it: hold the socket, start,
// wait, let go.
Outcome Request(TCPSocket& socket, Kind kind, void* data = nullptr, std::uint32_t length = 0,
                const SocketAddress& remote = {}) {
  IOOperation operation;
  operation.SetData(data, length);
  socket.EnterUserland();
  switch (kind) {
    case Kind::Connect:
      socket.StartConnect(remote, operation);
      break;
    case Kind::Read:
      socket.StartRead(operation);
      break;
    case Kind::Write:
      socket.StartWrite(operation);
      break;
    case Kind::Disconnect:
      socket.StartDisconnect(operation);
      break;
  }
  operation.Wait();
  socket.LeaveUserland();
  return Outcome{operation.m_error, operation.m_systemError, operation.m_bytesSoFar};
}

class SocketTest : public ::testing::Test {
 protected:
  // A socket bound to the manager and connected to the peer.
  void Connect(TCPSocket& socket, const TestPeer& peer) {
    ASSERT_TRUE(socket.Create(m_manager.get()));
    ASSERT_EQ(socket.Bind(SocketAddress{SocketAddress::kAny, 0}, TCPSocket::BIND_PLAIN), NOLKRESULT_OK);
    const Outcome connected = Request(socket, Kind::Connect, nullptr, 0, peer.Address());
    ASSERT_EQ(connected.error, NOLKRESULT_OK) << connected.systemError;
  }

  ManagerReference m_manager;
};

TEST_F(SocketTest, ReadOfTenBytesSentAsFourThenSixCompletesOnceWithAllTen) {
  Signal firstPartSent;
  TestPeer peer([&](PeerConnection& connection) {
    connection.NoDelay();
    connection.Send("0123");
    firstPartSent.Set();
    std::this_thread::sleep_for(30ms);
    connection.Send("456789");
    connection.WaitForEnd();
  });
  TCPSocket socket;
  Connect(socket, peer);
  char buffer[10] = {};
  const Outcome read = Request(socket, Kind::Read, buffer, sizeof buffer);
  EXPECT_EQ(read.error, NOLKRESULT_OK);
  EXPECT_EQ(read.bytes, 10u);
  EXPECT_EQ(std::string(buffer, 10), "0123456789");
  EXPECT_TRUE(firstPartSent.WaitFor());
}

TEST_F(SocketTest, WithPartialReadsTheReadEndsAfterTheFirstFourBytesWithFourteen) {
  Signal firstReadDone;
  TestPeer peer([&](PeerConnection& connection) {
    connection.NoDelay();
    connection.Send("0123");
    firstReadDone.WaitFor();
    connection.Send("456789");
    connection.WaitForEnd();
  });
  TCPSocket socket;
  Connect(socket, peer);
  socket.SetAllowPartialReads(true);
  char buffer[10] = {};
  const Outcome first = Request(socket, Kind::Read, buffer, sizeof buffer);
  firstReadDone.Set();
  EXPECT_EQ(first.error, NOLKRESULT_PARTIAL_READ);
  EXPECT_EQ(first.bytes, 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  socket.SetAllowPartialReads(false);
  const Outcome second = Request(socket, Kind::Read, buffer, 6);
  EXPECT_EQ(second.error, NOLKRESULT_OK);
  EXPECT_EQ(std::string(buffer, 6), "456789");
}

TEST_F(SocketTest, PeerThatClosesWithoutSendingEndsTheReadWithThirteenAndNoBytes) {
  TestPeer peer([](PeerConnection& connection) { connection.CloseInOrder(); });
  TCPSocket socket;
  Connect(socket, peer);
  char buffer[4];
  const Outcome read = Request(socket, Kind::Read, buffer, sizeof buffer);
  EXPECT_EQ(read.error, NOLKRESULT_CLOSED);
  EXPECT_EQ(read.bytes, 0u);
}

TEST_F(SocketTest, PeerThatClosesAfterPartOfTheDataEndsTheReadWithThirteenAndTheBytesSoFar) {
  TestPeer peer([](PeerConnection& connection) {
    connection.Send("ab");
    connection.CloseInOrder();
  });
  TCPSocket socket;
  Connect(socket, peer);
  char buffer[6];
  const Outcome read = Request(socket, Kind::Read, buffer, sizeof buffer);
  EXPECT_EQ(read.error, NOLKRESULT_CLOSED);
  EXPECT_EQ(read.bytes, 2u);
}

TEST_F(SocketTest, ResetByThePeerIsAConnectionLoss) {
  Signal readStarted;
  TestPeer peer([&](PeerConnection& connection) {
    readStarted.WaitFor();
    std::this_thread::sleep_for(20ms);
    connection.Reset();
  });
  TCPSocket socket;
  Connect(socket, peer);
  readStarted.Set();
  char buffer[4];
  const Outcome read = Request(socket, Kind::Read, buffer, sizeof buffer);
  EXPECT_EQ(read.error, NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(read.systemError, SocketError::CONNRESET);
}

TEST_F(SocketTest, ConnectToAPortWhereNothingListensIsRefused) {
  TCPSocket socket;
  ASSERT_TRUE(socket.Create(m_manager.get()));
  const Outcome connected = Request(socket, Kind::Connect, nullptr, 0, ClosedPort());
  EXPECT_EQ(connected.error, NOLKRESULT_REFUSED);
  EXPECT_EQ(connected.systemError, SocketError::CONNREFUSED);
  EXPECT_EQ(socket.GetConnectionTime(), -1);
}

TEST_F(SocketTest, SendOfOneMegabyteCompletesWithEveryByteDelivered) {
  const std::string payload = PatternBytes(1 << 20);
  std::string received;
  // A small receive window and a slow reader force many partial sends.
  TestPeer peer([&](PeerConnection& connection) { received = connection.ReceiveAll(4096, 1ms); }, 4096);
  TCPSocket socket;
  Connect(socket, peer);
  const Outcome sent = Request(socket, Kind::Write, const_cast<char*>(payload.data()), payload.size());
  EXPECT_EQ(sent.error, NOLKRESULT_OK);
  EXPECT_EQ(sent.bytes, payload.size());
  EXPECT_EQ(Request(socket, Kind::Disconnect).error, NOLKRESULT_OK);
  ASSERT_TRUE(peer.WaitUntilDone());
  EXPECT_EQ(received.size(), payload.size());
  EXPECT_TRUE(received == payload) << "the bytes arrived altered or out of order";
}

TEST_F(SocketTest, GracefulDisconnectEndsThePeersStreamAndTheSocketCanConnectAgain) {
  std::atomic<int> connections{0};
  TestPeer first([&](PeerConnection& connection) {
    connection.WaitForEnd();
    ++connections;
  });
  TestPeer second([&](PeerConnection& connection) {
    connection.Send("ok");
    connection.WaitForEnd();
    ++connections;
  });
  TCPSocket socket;
  Connect(socket, first);
  EXPECT_GE(socket.GetConnectionTime(), 0);
  EXPECT_EQ(Request(socket, Kind::Disconnect).error, NOLKRESULT_OK);
  ASSERT_TRUE(first.WaitUntilDone(5s)) << "the peer saw the end of the stream";
  EXPECT_EQ(socket.GetConnectionTime(), -1);
  const Outcome again = Request(socket, Kind::Connect, nullptr, 0, second.Address());
  ASSERT_EQ(again.error, NOLKRESULT_OK);
  char buffer[2];
  EXPECT_EQ(Request(socket, Kind::Read, buffer, 2).error, NOLKRESULT_OK);
  socket.Close();
// Winsock's headers (for the scripted peer) define INVALID_SOCKET as a macro.
#pragma push_macro("INVALID_SOCKET")
#undef INVALID_SOCKET
  EXPECT_EQ(socket.GetHandle(), TCPSocket::INVALID_SOCKET);
#pragma pop_macro("INVALID_SOCKET")
  ASSERT_TRUE(second.WaitUntilDone(5s));
  EXPECT_EQ(connections.load(), 2);
}

TEST_F(SocketTest, ShutdownOfTheSendSideEndsThePeersStreamButKeepsReceiving) {
  std::string seen;
  TestPeer peer([&](PeerConnection& connection) {
    seen = connection.ReceiveAll();
    connection.Send("reply");
  });
  TCPSocket socket;
  Connect(socket, peer);
  char request[] = "request";
  EXPECT_EQ(Request(socket, Kind::Write, request, 7).error, NOLKRESULT_OK);
  EXPECT_EQ(socket.Shutdown(1), NOLKRESULT_OK);
  char reply[5];
  EXPECT_EQ(Request(socket, Kind::Read, reply, 5).error, NOLKRESULT_OK);
  EXPECT_EQ(std::string(reply, 5), "reply");
  EXPECT_EQ(seen, "request");
}

TEST_F(SocketTest, BindStoresTheActualLocalAddress) {
  TCPSocket socket;
  ASSERT_TRUE(socket.Create(m_manager.get()));
  ASSERT_EQ(socket.Bind(SocketAddress{SocketAddress::kLoopback, 0}, TCPSocket::BIND_REUSE_ADDRESS),
            NOLKRESULT_OK);
  EXPECT_EQ(socket.GetLocalAddress().address, SocketAddress::kLoopback);
  EXPECT_NE(socket.GetLocalAddress().port, 0);
  TCPSocket other;
  ASSERT_TRUE(other.Create(m_manager.get()));
  EXPECT_NE(other.Bind(socket.GetLocalAddress(), TCPSocket::BIND_PLAIN), NOLKRESULT_OK)
      << "the port is taken";
}

TEST_F(SocketTest, InactivityLimitEndsAReadFromASilentPeerWithAConnectionLoss) {
  TestPeer peer([](PeerConnection& connection) { connection.WaitForEnd(); });
  TCPSocket socket;
  Connect(socket, peer);
  socket.SetInactivityTimeout(200ms);
  char buffer[4];
  const auto start = Clock::now();
  const Outcome read = Request(socket, Kind::Read, buffer, sizeof buffer);
  const auto elapsed = Clock::now() - start;
  EXPECT_EQ(read.error, NOLKRESULT_CONNECTION_LOST);
  EXPECT_EQ(read.systemError, SocketError::TIMEDOUT);
  EXPECT_GE(elapsed, 190ms);
  EXPECT_LT(elapsed, 10s);
}

TEST_F(SocketTest, InactivityLimitCountsFromTheLastBytesNotFromTheStart) {
  TestPeer peer([](PeerConnection& connection) {
    connection.NoDelay();
    for (char c = 'a'; c < 'a' + 6; ++c) {
      std::this_thread::sleep_for(100ms);
      connection.Send(&c, 1);
    }
    connection.WaitForEnd();
  });
  TCPSocket socket;
  Connect(socket, peer);
  socket.SetInactivityTimeout(400ms);
  char buffer[6];
  const Outcome read = Request(socket, Kind::Read, buffer, sizeof buffer);
  EXPECT_EQ(read.error, NOLKRESULT_OK) << "600 ms in all, but never 400 ms without a byte";
  EXPECT_EQ(std::string(buffer, 6), "abcdef");
}

TEST_F(SocketTest, CloseFromAnotherThreadEndsAPendingReadAtOnceWithThirteen) {
  TestPeer peer([](PeerConnection& connection) { connection.WaitForEnd(); });
  TCPSocket socket;
  Connect(socket, peer);
  std::thread canceller([&] {
    std::this_thread::sleep_for(100ms);
    socket.Close();
  });
  char buffer[4];
  const auto start = Clock::now();
  const Outcome read = Request(socket, Kind::Read, buffer, sizeof buffer);
  const auto elapsed = Clock::now() - start;
  canceller.join();
  EXPECT_EQ(read.error, NOLKRESULT_CLOSED);
  EXPECT_EQ(read.systemError, SocketError::OPERATION_ABORTED);
  EXPECT_LT(elapsed, 5s);
  const Outcome afterwards = Request(socket, Kind::Read, buffer, sizeof buffer);
  EXPECT_EQ(afterwards.error, NOLKRESULT_NOT_OPEN) << "a closed socket fails at once";
}

TEST_F(SocketTest, CompletionsAreHandledOnTheWorkerThread) {
  TestPeer peer([](PeerConnection& connection) {
    connection.Send("x");
    connection.WaitForEnd();
  });
  TCPSocket socket;
  Connect(socket, peer);
  std::atomic<bool> onWorker{false};
  std::atomic<std::int64_t> callbackThread{0};
  IOOperation operation;
  char byte = 0;
  operation.SetData(&byte, 1);
  operation.m_callback = [&](CPHandler&, IOOperation&) {
    onWorker = TCPSocket::IsInIOCPThread();
    callbackThread = OS::CurrentThreadId();
  };
  socket.EnterUserland();
  EXPECT_FALSE(TCPSocket::IsInIOCPThread());
  socket.StartRead(operation);
  operation.Wait();
  socket.LeaveUserland();
  EXPECT_TRUE(onWorker.load());
  EXPECT_EQ(callbackThread.load(), CPSocketManager::CompletionThreadId());
  EXPECT_NE(callbackThread.load(), static_cast<std::int64_t>(OS::CurrentThreadId()));
}

TEST_F(SocketTest, AcceptedConnectionCarriesItsAddressesAndData) {
  TCPSocket listening;
  ASSERT_TRUE(listening.Create(m_manager.get()));
  ASSERT_EQ(listening.Bind(SocketAddress{SocketAddress::kLoopback, 0}, TCPSocket::BIND_PLAIN), NOLKRESULT_OK);
  ASSERT_EQ(listening.Listen(4), NOLKRESULT_OK);
  auto accepted = std::make_unique<TCPSocket>();
  ASSERT_TRUE(accepted->Create(m_manager.get()));
  IOOperation accept;
  accepted->EnterUserland();
  accepted->StartAccept(listening, accept);

  TCPSocket client;
  ASSERT_TRUE(client.Create(m_manager.get()));
  std::thread connecting([&] {
    const Outcome connected = Request(client, Kind::Connect, nullptr, 0, listening.GetLocalAddress());
    EXPECT_EQ(connected.error, NOLKRESULT_OK);
    char hello[] = "hello";
    EXPECT_EQ(Request(client, Kind::Write, hello, 5).error, NOLKRESULT_OK);
  });
  accept.Wait();
  accepted->LeaveUserland();
  connecting.join();
  ASSERT_EQ(accept.m_error, NOLKRESULT_OK);
  EXPECT_EQ(accepted->GetRemoteAddress().address, SocketAddress::kLoopback);
  EXPECT_EQ(accepted->GetLocalAddress().port, listening.GetLocalAddress().port);
  EXPECT_GE(accepted->GetConnectionTime(), 0);

  NolkDataBufferTCP stream(std::move(accepted));
  char buffer[5];
  EXPECT_EQ(stream.ReadData(buffer, 5), NOLKRESULT_OK);
  EXPECT_EQ(std::string(buffer, 5), "hello");
}

TEST_F(SocketTest, RequestOnASocketThatWasNeverCreatedFailsAtOnce) {
  TCPSocket socket;
  char buffer[4];
  const Outcome read = Request(socket, Kind::Read, buffer, sizeof buffer);
  EXPECT_EQ(read.error, NOLKRESULT_NOT_OPEN);
}

class SocketDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(SocketDeathTest, SecondUserThreadOnAHeldSocketFailsTheAssertion) {
  EXPECT_DEATH(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        ManagerReference manager;
        TCPSocket socket;
        socket.Create(manager.get());
        Signal held;
        std::thread holder([&] {
          socket.EnterUserland();
          held.Set();
          std::this_thread::sleep_for(10s);
        });
        held.WaitFor();
        IOOperation operation;
        char buffer[4];
        operation.SetData(buffer, 4);
        socket.StartRead(operation);
      },
      "Assertion failed: wasThreadID == -1 \\|\\| wasThreadID == myThreadID");
}

TEST_F(SocketDeathTest, CreatingASocketTwiceFailsTheAssertion) {
  EXPECT_DEATH(
      {
        dup2(STDERR_FILENO, STDOUT_FILENO);
        ManagerReference manager;
        TCPSocket socket;
        socket.Create(manager.get());
        socket.Create(manager.get());
      },
      "Assertion failed: INVALID_SOCKET == m_socket");
}

TEST(SocketManager, LastReleaseStopsTheWorkerAndANewReferenceStartsAnother) {
  ASSERT_EQ(CPSocketManager::References(), 0);
  EXPECT_EQ(CPSocketManager::CompletionThreadId(), -1);
  {
    ManagerReference first;
    ManagerReference second;
    EXPECT_EQ(first.get(), second.get());
    EXPECT_EQ(CPSocketManager::References(), 2);
    EXPECT_EQ(first->WorkerCount(), 1);
    // The worker records its id as soon as it runs.
    for (int i = 0; i < 1000 && CPSocketManager::CompletionThreadId() == -1; ++i)
      std::this_thread::sleep_for(1ms);
    EXPECT_NE(CPSocketManager::CompletionThreadId(), -1);
  }
  EXPECT_EQ(CPSocketManager::References(), 0);
  EXPECT_EQ(CPSocketManager::CompletionThreadId(), -1) << "the worker has ended";
  ManagerReference again;
  EXPECT_EQ(again->WorkerCount(), 1);
  bool ran = false;
  again->RunOnWorker([&] { ran = TCPSocket::IsInIOCPThread(); });
  EXPECT_TRUE(ran);
}

TEST(SocketManager, SocketKeepsTheManagerAliveUntilItIsDestroyed) {
  auto socket = std::make_unique<TCPSocket>();
  {
    ManagerReference manager;
    ASSERT_TRUE(socket->Create(manager.get()));
  }
  EXPECT_EQ(CPSocketManager::References(), 1);
  socket.reset();
  EXPECT_EQ(CPSocketManager::References(), 0);
}

TEST(SocketManager, ManagerWhoseWorkerCannotStartRefusesSockets) {
  OS::ScopedFaults faults;
  faults.Add({"StartThread", "", 0, 1, OS::ERROR_NOT_ENOUGH_MEMORY, std::nullopt, 0});
  ManagerReference manager;
  EXPECT_EQ(manager->WorkerCount(), 0);
  TCPSocket socket;
  EXPECT_FALSE(socket.Create(manager.get()));
  NolkDataBufferTCP stream;
  EXPECT_EQ(stream.Connect(SocketAddress{SocketAddress::kLoopback, 1}), NOLKRESULT_NOT_OPEN);
  char byte;
  EXPECT_EQ(stream.ReadData(&byte, 1), NOLKRESULT_NOT_OPEN);
  EXPECT_EQ(stream.WriteData(&byte, 1), NOLKRESULT_NOT_OPEN);
}

}  // namespace
