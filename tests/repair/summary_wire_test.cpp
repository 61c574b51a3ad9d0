// The summary stream over a real TCP connection on 127.0.0.1, as the repair
// client sends it to the server: written in blocks, read field by field,
// and a peer that lies about its counts cannot hold the reader.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "RepairTestSupport.h"
#include "net/NolkDataBufferTCP.h"
#include "net/net_test_support.h"
#include "repair/FileTreeSummary.h"
#include "repair/SummaryStreamFormat.h"
#include "stream/NolkDataBufferMemory.h"

namespace {

using NetTest::PeerConnection;
using NetTest::TestPeer;
using NolkPatch::FileTreeSummary;

std::string Saved(const FileTreeSummary& summary) {
  NolkDataBufferMemoryDynamic buffer;
  EXPECT_EQ(summary.Save(buffer), NOLKRESULT_OK);
  return std::string(buffer.Bytes().begin(), buffer.Bytes().end());
}

// A summary of many entries, so that the stream spans several write blocks.
void Fill(FileTreeSummary& summary, int entries) {
  std::string stream;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, stream);
  NolkUtil::AppendLe32(static_cast<std::uint32_t>(entries), stream);
  for (int i = 0; i < entries; ++i) {
    NolkUtil::AppendCountedName(
        L"data\\region" + std::to_wstring(i % 97) + L"\\tile" + std::to_wstring(i) + L".pak#000", stream);
    NolkUtil::AppendLe32(static_cast<std::uint32_t>(i * 2654435761u), stream);
    NolkUtil::AppendLe64(1700000000u + i, stream);
  }
  NolkDataBufferMemoryStatic source(stream.data(), static_cast<std::uint32_t>(stream.size()));
  ASSERT_EQ(summary.Load(source), NOLKRESULT_OK);
}

std::string ReceiveExactly(PeerConnection& connection, std::size_t length) {
  std::string bytes;
  std::string chunk(65536, '\0');
  while (bytes.size() < length) {
    const std::size_t received =
        connection.ReceiveSome(chunk.data(), std::min(chunk.size(), length - bytes.size()));
    if (received == 0) break;
    bytes.append(chunk.data(), received);
  }
  return bytes;
}

TEST(SummaryWireTest, SummaryCrossesTheConnectionUnchanged) {
  FileTreeSummary summary;
  Fill(summary, 6000);
  const std::string expected = Saved(summary);
  ASSERT_GT(expected.size(), 3u * 65536);

  std::string received;
  TestPeer peer([&](PeerConnection& connection) {
    received = ReceiveExactly(connection, expected.size());
    connection.Send(received);  // the peer answers with what it got
    connection.WaitForEnd();
  });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  ASSERT_EQ(summary.Save(stream), NOLKRESULT_OK);
  FileTreeSummary echoed;
  ASSERT_EQ(echoed.Load(stream), NOLKRESULT_OK);
  EXPECT_EQ(stream.GetPosition(), expected.size());
  stream.Disconnect(true);
  ASSERT_TRUE(peer.WaitUntilDone());
  EXPECT_EQ(received, expected);
  EXPECT_EQ(Saved(echoed), expected);
}

TEST(SummaryWireTest, PeerThatPromisesMoreThanItSendsEndsTheLoadAtOnce) {
  std::string lie;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, lie);
  NolkUtil::AppendLe32(0xFFFFFFFFu, lie);
  NolkUtil::AppendCountedName(L"bin\\a.dll#000", lie);
  NolkUtil::AppendLe32(5, lie);
  NolkUtil::AppendLe64(6, lie);
  TestPeer peer([&](PeerConnection& connection) {
    connection.Send(lie);
    connection.CloseInOrder();
  });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  FileTreeSummary summary;
  const auto start = std::chrono::steady_clock::now();
  const NolkResult result = summary.Load(stream);
  EXPECT_NE(result, NOLKRESULT_OK);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(summary.Count(), 1u);
}

TEST(SummaryWireTest, OversizedNameCountIsRefusedWithoutWaitingForTheName) {
  std::string lie;
  NolkUtil::AppendLe32(NolkUtil::kSummaryMagic, lie);
  NolkUtil::AppendLe32(1, lie);
  NolkUtil::AppendLe32(0x7FFFFFFFu, lie);
  TestPeer peer([&](PeerConnection& connection) {
    connection.Send(lie);
    connection.WaitForEnd();  // keeps the connection open: the reader must not wait for 4 GiB
  });
  NolkDataBufferTCP stream;
  ASSERT_EQ(stream.Connect(peer.Address()), NOLKRESULT_OK);
  FileTreeSummary summary;
  EXPECT_EQ(summary.Load(stream), NOLKRESULT_WRONG_FORMAT);
  EXPECT_EQ(summary.Count(), 0u);
  stream.Disconnect(true);
}

}  // namespace
