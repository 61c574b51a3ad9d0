// The SHA-256 taken while a downloaded archive is written: the digest reads
// the written bytes back from the file on its own thread.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "KernelStandard/platform/FaultInjection.h"
#include "package_test_support.h"
#include "patch/signing/WrittenFileDigest.h"
#include "stream/NolkDataBufferFile.h"

namespace {

using NolkSign::Sha256Digest;
using NolkSign::WrittenFileDigest;
using packagetest::Bytes;

// An archive file being written as the download writes it: every write and
// cut goes to the file and is told to the digest, which has the file
// flushed when it asks.
class WrittenFile {
 public:
  explicit WrittenFile(const std::filesystem::path& path)
      : m_file(path.wstring(), NolkDataBufferFile::WriteNew), m_digest(m_file.StreamPath()) {}

  void Write(std::uint64_t position, const std::uint8_t* data, std::size_t length) {
    ASSERT_EQ(m_file.SetPosition(position), NOLKRESULT_OK);
    ASSERT_EQ(m_file.WriteData(data, static_cast<std::uint32_t>(length)), NOLKRESULT_OK);
    if (m_digest.Written(position, length)) {
      m_file.Flush();
      m_digest.Flushed();
    }
  }
  void Write(std::uint64_t position, const Bytes& body, std::size_t from, std::size_t length) {
    Write(position, body.data() + from, length);
  }
  // Writes body[0, upTo) in pieces that do not divide the digest's reading
  // step.
  void WriteInPieces(const Bytes& body, std::size_t upTo) {
    constexpr std::size_t kPiece = 100003;
    for (std::size_t at = 0; at < upTo; at += kPiece) Write(at, body, at, std::min(kPiece, upTo - at));
  }
  void Resize(std::uint64_t size) {
    ASSERT_EQ(m_file.SetSize(size), NOLKRESULT_OK);
    m_digest.Resized(size);
  }
  std::optional<Sha256Digest> Finish() {
    m_file.Flush();
    return m_digest.Finish(m_file.GetSize());
  }

 private:
  NolkDataBufferFile m_file;
  WrittenFileDigest m_digest;
};

class WrittenFileDigestTest : public packagetest::TempFolderTest {
 protected:
  std::filesystem::path Path(const char* name) const { return m_root / name; }
};

Sha256Digest DigestOf(const Bytes& body) {
  return NolkSign::Sha256Of(body.data(), body.size());
}

TEST_F(WrittenFileDigestTest, BytesInOrderGiveTheFileDigestAnythingElseNone) {
  const Bytes body = packagetest::PatternBytes(20, 1);
  const Bytes stale = packagetest::PatternBytes(5, 2);
  {
    WrittenFile file(Path("in-order"));
    file.Write(0, body, 0, 7);
    file.Write(7, body, 7, 13);
    EXPECT_EQ(file.Finish(), DigestOf(body));
  }
  // Finish closed the digest's own handle: the file can go (on Windows a
  // handle left open would refuse the deletion of a bad archive).
  EXPECT_TRUE(std::filesystem::remove(Path("in-order")));

  // A server that sends the whole body again after all: cut to 0, rewritten.
  WrittenFile restarted(Path("restarted"));
  restarted.Write(0, stale, 0, stale.size());
  restarted.Resize(0);
  restarted.Write(0, body, 0, body.size());
  EXPECT_EQ(restarted.Finish(), DigestOf(body));
  WrittenFile rewritten(Path("rewritten"));
  rewritten.Write(0, stale, 0, stale.size());
  rewritten.Write(0, body, 0, body.size());
  EXPECT_EQ(rewritten.Finish(), DigestOf(body));

  // A resumed download (its first bytes came from an earlier run), a gap,
  // a cut into the hashed bytes, a rewrite inside them, a file longer than
  // what was written in order.
  WrittenFile resumed(Path("resumed"));
  resumed.Write(7, body, 7, 13);
  EXPECT_FALSE(resumed.Finish().has_value());
  WrittenFile gap(Path("gap"));
  gap.Write(0, body, 0, 7);
  gap.Write(8, body, 8, 12);
  EXPECT_FALSE(gap.Finish().has_value());
  WrittenFile cut(Path("cut"));
  cut.Write(0, body, 0, body.size());
  cut.Resize(7);
  EXPECT_FALSE(cut.Finish().has_value());
  WrittenFile patched(Path("patched"));
  patched.Write(0, body, 0, body.size());
  patched.Write(3, stale, 0, 2);
  EXPECT_FALSE(patched.Finish().has_value());
  WrittenFile longer(Path("longer"));
  longer.Write(0, body, 0, 7);
  longer.Resize(body.size());
  EXPECT_FALSE(longer.Finish().has_value());
}

// Many reading steps, some of them still waiting for the thread when the
// file is cut to 0 and written again: only the second pass counts, and no
// byte of it is lost or read before it was flushed.
TEST_F(WrittenFileDigestTest, LongFilesAndRestartsWhileTheThreadReads) {
  const Bytes body = packagetest::PatternBytes(9 * WrittenFileDigest::kAnnounceBytes + 12345, 3);
  WrittenFile whole(Path("whole"));
  whole.WriteInPieces(body, body.size());
  EXPECT_EQ(whole.Finish(), DigestOf(body));

  const Bytes first = packagetest::PatternBytes(body.size(), 4);
  WrittenFile restarted(Path("restarted"));
  restarted.WriteInPieces(first, WrittenFileDigest::kAnnounceBytes * 5 / 2);
  restarted.Resize(0);
  restarted.WriteInPieces(body, body.size());
  EXPECT_EQ(restarted.Finish(), DigestOf(body));

  // An empty body is a digest too (of nothing), not an unknown one.
  WrittenFile empty(Path("empty"));
  EXPECT_EQ(empty.Finish(), DigestOf(Bytes()));
}

OS::FaultRule Failing(const char* operation, const char* path, int skip, int count) {
  OS::FaultRule rule;
  rule.operation = operation;
  rule.pathContains = path;
  rule.skip = skip;
  rule.count = count;
  return rule;
}

// The thread cannot read what was written: the digest is unknown (so the
// caller reads the file itself), never the digest of a part of it.
TEST_F(WrittenFileDigestTest, AFileTheThreadCannotReadGivesNoDigest) {
  const Bytes body = packagetest::PatternBytes(3 * WrittenFileDigest::kAnnounceBytes, 5);
  {
    OS::ScopedFaults faults;
    faults.Add(Failing("ReadStream", "unreadable", 1, 1));
    WrittenFile file(Path("unreadable"));
    file.WriteInPieces(body, body.size());
    EXPECT_FALSE(file.Finish().has_value());
    EXPECT_GE(faults.Calls("ReadStream"), 2);
  }
  {
    OS::ScopedFaults faults;
    faults.Add(Failing("OpenStream", "unopened", 1, -1));
    WrittenFile file(Path("unopened"));  // the writer's own open is let through
    file.WriteInPieces(body, body.size());
    EXPECT_FALSE(file.Finish().has_value());
  }
  // After a cut to 0 the digest tries again, and this time it can read.
  {
    OS::ScopedFaults faults;
    faults.Add(Failing("ReadStream", "retried", 0, 1));
    WrittenFile file(Path("retried"));
    file.WriteInPieces(body, body.size());
    file.Resize(0);
    file.WriteInPieces(body, body.size());
    EXPECT_EQ(file.Finish(), DigestOf(body));
  }
}

}  // namespace
