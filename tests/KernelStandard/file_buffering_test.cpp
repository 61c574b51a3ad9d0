#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "KernelStandard/Exception.h"
#include "KernelStandard/File.h"
#include "bytepair_test_data.h"
#include "file_test_support.h"

namespace {

using korvel_test::Bytes;
constexpr std::size_t kBuffer = Vek::File::kBufferSize;

class FileBuffering : public korvel_test::FileTestFolder {
 protected:
  void OpenForWriting(Vek::File& file, unsigned extra = 0) {
    ASSERT_TRUE(file.Open(PathOf("out.bin"), Vek::FILE_OPEN_WRITE | extra));
  }
};

TEST_F(FileBuffering, SmallWritesFillTheBufferBeforeTheyReachTheFile) {
  OS::ScopedFaults probe;
  Vek::File file;
  OpenForWriting(file);
  Bytes data = korvel_test::RandomBytes(kBuffer + 616, 2);
  for (int i = 0; i < 160; ++i) EXPECT_EQ(file.Write(data.data() + i * 100, 100), 100u);
  EXPECT_EQ(probe.Calls("WriteDescriptor"), 0);
  EXPECT_EQ(file.Size(), 16000u);
  EXPECT_EQ(file.Write(data.data() + 16000, 1000), 1000u);  // 384 fit, buffer full, 616 wait
  EXPECT_EQ(probe.Calls("WriteDescriptor"), 1);
  EXPECT_EQ(ReadRaw("out.bin").size(), kBuffer);
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(probe.Calls("WriteDescriptor"), 2);
  EXPECT_EQ(ReadRaw("out.bin"), data);
}

TEST_F(FileBuffering, WritesOfABufferOrMoreGoStraightToTheFile) {
  OS::ScopedFaults probe;
  Vek::File file;
  OpenForWriting(file);
  Bytes data = korvel_test::RandomBytes(100 + kBuffer + (1 << 20), 3);
  EXPECT_EQ(file.Write(data.data(), 100), 100u);
  EXPECT_EQ(file.Write(data.data() + 100, kBuffer), kBuffer);  // flush, then direct
  EXPECT_EQ(probe.Calls("WriteDescriptor"), 2);
  EXPECT_EQ(file.Write(data.data() + 100 + kBuffer, 1 << 20), std::size_t{1} << 20);
  EXPECT_EQ(probe.Calls("WriteDescriptor"), 3);
  EXPECT_EQ(file.Size(), data.size());
  EXPECT_EQ(file.Position(), data.size());
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(ReadRaw("out.bin"), data);
}

TEST_F(FileBuffering, SizeIsTheHighestPositionWritten) {
  Vek::File file;
  OpenForWriting(file);
  Bytes data(100, 'a');
  file.Write(data.data(), data.size());
  EXPECT_EQ(file.Seek(10), 10);
  file.Write("XYZ", 3);
  EXPECT_EQ(file.Position(), 13u);
  EXPECT_EQ(file.Size(), 100u);
  // A direct write after a backward seek lands at the logical position.
  Bytes big(kBuffer, 'b');
  EXPECT_EQ(file.Seek(50), 50);
  file.Write(big.data(), big.size());
  EXPECT_EQ(file.Size(), 50 + kBuffer);
  EXPECT_TRUE(file.Close());
  Bytes expected(50 + kBuffer, 'b');
  std::fill_n(expected.begin(), 50, 'a');
  std::copy_n("XYZ", 3, expected.begin() + 10);
  EXPECT_EQ(ReadRaw("out.bin"), expected);
}

TEST_F(FileBuffering, FailedWritesShowInSizePositionAndClose) {
  Bytes data(2 * kBuffer, 'q');
  {
    OS::ScopedFaults faults;
    Vek::File file;
    OpenForWriting(file);
    file.Write(data.data(), 10);
    faults.Add(korvel_test::Fault("WriteDescriptor", "out.bin", 1));  // the flush passes
    EXPECT_EQ(file.Write(data.data(), data.size()), 0u);
    EXPECT_EQ(file.Size(), 0u);
    EXPECT_FALSE(file.Close());
  }
  OS::ScopedFaults faults;
  Vek::File file;
  OpenForWriting(file);
  file.Write("0123456789", 10);
  faults.Add(korvel_test::Fault("WriteDescriptor", "out.bin"));
  EXPECT_EQ(file.Seek(4), -1);  // the flush wrote nothing
  EXPECT_EQ(file.Position(), 0u);
  EXPECT_EQ(file.Size(), 0u);
  EXPECT_FALSE(file.Close());
}

TEST_F(FileBuffering, WriteTextConvertsToUtf16OnlyForUtf16Files) {
  {
    Vek::File plain;
    ASSERT_TRUE(plain.Open(PathOf("plain.txt"), Vek::FILE_OPEN_WRITE));
    EXPECT_EQ(plain.WriteText("Hi\x93"), 3u);
    EXPECT_EQ(plain.WriteText(""), 0u);
  }
  EXPECT_EQ(ReadRaw("plain.txt"), (Bytes{'H', 'i', 0x93}));
  {
    Vek::File wide;
    ASSERT_TRUE(wide.Open(PathOf("wide.txt"), Vek::FILE_OPEN_WRITE | Vek::FILE_OPEN_UTF16));
    EXPECT_EQ(wide.Encoding(), Vek::FILE_ENCODING_UTF16);
    EXPECT_EQ(wide.WriteText(""), 0u);
    EXPECT_EQ(wide.Size(), 0u);
    EXPECT_EQ(wide.WriteText("Hi\x93\n"), 8u);
  }
  // 0x93 is the left double quotation mark U+201C.
  EXPECT_EQ(ReadRaw("wide.txt"), (Bytes{'H', 0, 'i', 0, 0x1C, 0x20, '\n', 0}));
}

void ExpectFileEx(const std::function<void()>& call, const std::string& reason) {
  try {
    call();
    ADD_FAILURE() << "no exception for " << reason;
  } catch (const Vek::FileEx& error) {
    EXPECT_EQ(error.Reason(), reason);
    EXPECT_EQ(error.File(), "KernelStandard\\File");
    EXPECT_GT(error.Line(), 0);
    EXPECT_STREQ(error.ClassName(), "File");
  }
}

TEST_F(FileBuffering, MisuseIsRefusedOrThrows) {
  Vek::File file;
  EXPECT_FALSE(file.Open(PathOf("missing.bin"), Vek::FILE_OPEN_READ));
  EXPECT_FALSE(file.Open(PathOf("x.bin"), Vek::FILE_OPEN_READ | Vek::FILE_OPEN_WRITE));
  EXPECT_EQ(file.Read(nullptr, 0), -1);
  EXPECT_EQ(file.Seek(0), -1);
  ExpectFileEx([&] { file.Write("x", 1); }, "Write() File not open");
  ExpectFileEx([&] { file.WriteText("x"); }, "Write() File not open");
  WriteRaw("in.bin", {1, 2, 3});
  ASSERT_TRUE(file.Open(PathOf("in.bin"), Vek::FILE_OPEN_READ));
  ExpectFileEx([&] { file.Write("x", 1); }, "Write() File not open for writing");
  EXPECT_FALSE(file.Open(PathOf("y.bin"), Vek::FILE_OPEN_WRITE));  // already open
  file.Close();
  ASSERT_TRUE(file.Open(PathOf("c.bin"), Vek::FILE_OPEN_WRITE | Vek::FILE_OPEN_COMPRESSED));
  ExpectFileEx([&] { file.Seek(0); }, "Seek() Can't seek writing compressed file");
}

TEST_F(FileBuffering, PlainReadsInAnyPieceSizes) {
  Bytes data = korvel_test::RandomBytes(5 * kBuffer + 123, 4);
  WriteRaw("in.bin", data);
  Vek::File file;
  ASSERT_TRUE(file.Open(PathOf("in.bin"), Vek::FILE_OPEN_READ));
  EXPECT_EQ(file.Size(), data.size());
  Bytes back;
  std::size_t pieces[] = {1, 100, kBuffer - 1, kBuffer, 2 * kBuffer + 5, 7};
  for (std::size_t i = 0; back.size() < data.size(); ++i) {
    Bytes piece(pieces[i % std::size(pieces)]);
    std::int64_t got = file.Read(piece.data(), piece.size());
    ASSERT_GT(got, 0);
    back.insert(back.end(), piece.begin(), piece.begin() + got);
  }
  EXPECT_EQ(back, data);
  char extra;
  EXPECT_EQ(file.Read(&extra, 1), 0);
  EXPECT_EQ(file.Seek(kBuffer + 3), std::int64_t(kBuffer + 3));
  Bytes piece(10);
  ASSERT_EQ(file.Read(piece.data(), piece.size()), 10);
  EXPECT_EQ(piece, Bytes(data.begin() + kBuffer + 3, data.begin() + kBuffer + 13));
}

// Records how many raw reads happened inside and outside the guard.
class CountingGuard : public Vek::FileGuard {
 public:
  explicit CountingGuard(OS::ScopedFaults& probe) : m_probe(probe) {}
  void BeforeRawRead() override {
    EXPECT_FALSE(m_inside);
    m_inside = true;
    ++m_entries;
    m_readsBefore = m_probe.Calls("ReadDescriptor");
  }
  void AfterRawRead() override {
    EXPECT_TRUE(m_inside);
    m_inside = false;
    m_guardedReads += m_probe.Calls("ReadDescriptor") - m_readsBefore;
  }
  int m_entries = 0;
  int m_guardedReads = 0;

 private:
  OS::ScopedFaults& m_probe;
  bool m_inside = false;
  int m_readsBefore = 0;
};

TEST_F(FileBuffering, GuardSurroundsEveryRawRead) {
  Bytes data = korvel_test::TextLikeBytes(3 * kBuffer + 10, 5);
  {
    Vek::File writer;
    ASSERT_TRUE(writer.Open(PathOf("c.bin"), Vek::FILE_OPEN_WRITE | Vek::FILE_OPEN_COMPRESSED));
    writer.Write(data.data(), data.size());
  }
  WriteRaw("p.bin", data);
  for (const char* name : {"c.bin", "p.bin"}) {
    OS::ScopedFaults probe;
    CountingGuard guard(probe);
    Vek::File file;
    file.SetGuard(&guard);
    ASSERT_TRUE(file.Open(PathOf(name), Vek::FILE_OPEN_READ | Vek::FILE_OPEN_COMPRESSED));
    Bytes back(data.size());
    EXPECT_EQ(file.Read(back.data(), 100), 100);
    file.Seek(2 * kBuffer);
    file.Seek(5);
    EXPECT_EQ(file.Read(back.data(), back.size()), std::int64_t(data.size() - 5));
    EXPECT_GT(guard.m_entries, 2) << name;
    EXPECT_EQ(guard.m_guardedReads, probe.Calls("ReadDescriptor")) << name;
  }
}

}  // namespace
