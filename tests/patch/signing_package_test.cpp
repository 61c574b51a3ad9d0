// Signed standalone patches: the packager reserves the signature block in
// the padding before the package header and signs the whole file; the
// reader, given keys, trusts only a package whose signature is good, and
// a reader without keys opens signed and unsigned packages alike.
#include <gtest/gtest.h>

#include "package_test_support.h"
#include "patch/PatchPackage.h"
#include "patch/signing/PackageSignature.h"
#include "stream/NolkDataBufferFile.h"
#include "tools/publisher/PackageLayout.h"
#include "tools/publisher/Packager.h"

namespace {

using namespace packagetest;
namespace fs = std::filesystem;

struct Key {
  NolkSign::KeyPair pair;
  Key() {
    NolkSign::Seed seed{};
    EXPECT_TRUE(NolkSign::GenerateKeyPair(pair, seed));
  }
};

class SignedPackage : public TempFolderTest {
 protected:
  void SetUp() override {
    TempFolderTest::SetUp();
    // A "program" that ends 40 bytes before a 4,096 boundary: too little
    // room for the block, so the packager pads one page more.
    WriteFileBytes(m_root / "patcher", PatternBytes(2 * 4096 - 40, 3));
    Bytes archive = {1, 0, 0, 0};
    const Bytes body = PatternBytes(20000, 4);
    archive.insert(archive.end(), body.begin(), body.end());
    WriteFileBytes(m_root / "a.arc", archive);
    m_options.patcherPath = (m_root / "patcher").wstring();
    m_options.finalVersion = "200";
    m_options.builds = {{std::string(32, 'a'), "100"}};
    m_options.patches = {{"100", "200", (m_root / "a.arc").wstring()}};
  }

  fs::path Make(const std::string& name, const NolkSign::KeyPair* signer, bool room = false) {
    m_options.outputPath = (m_root / name).wstring();
    m_options.signer = signer;
    m_options.signatureRoom = room;
    const KorvelTools::PublisherResult result = KorvelTools::BuildPackage(m_options);
    EXPECT_TRUE(result.Ok()) << result.message;
    return m_root / name;
  }

  NolkResult Open(const fs::path& path, const NolkSign::PublisherKeySet& keys) {
    return m_package.Open(path.wstring(), keys);
  }

  KorvelTools::PackageOptions m_options;
  NolkPatch::PatchPackage m_package;
};

TEST_F(SignedPackage, SignatureBlockSitsInThePaddingAndOldReadersStillOpenThePackage) {
  Key publisher;
  const fs::path path = Make("signed.exe", &publisher.pair);
  const Bytes bytes = ReadFileBytes(path);
  constexpr std::uint64_t kHeader = 3 * 4096;
  ASSERT_EQ(Open(path, {}), NOLKRESULT_OK);
  EXPECT_EQ(m_package.GetHeaderPosition(), kHeader);
  EXPECT_EQ(m_package.FindTargetVersion("100"), "200");
  // The program's bytes are untouched, zeros follow, the block ends at the
  // header and names the signer.
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 2 * 4096 - 40), PatternBytes(2 * 4096 - 40, 3));
  const std::size_t block = kHeader - NolkSign::kPackageSignatureBlockSize;
  EXPECT_TRUE(
      std::all_of(bytes.begin() + 2 * 4096 - 40, bytes.begin() + block, [](auto b) { return b == 0; }));
  EXPECT_EQ(std::string(bytes.begin() + block, bytes.begin() + block + 8), "KrvSig01");
  EXPECT_TRUE(std::equal(publisher.pair.publicKey.begin(), publisher.pair.publicKey.end(),
                         bytes.begin() + block + 16));

  ASSERT_EQ(Open(path, {{publisher.pair.publicKey}}), NOLKRESULT_OK);
  EXPECT_TRUE(m_package.SignatureProblem().empty());
  EXPECT_EQ(m_package.FindTargetVersion("100"), "200");
}

TEST_F(SignedPackage, RoomOnlyWhenAskedForAndOneMorePageWhenThePaddingIsShort) {
  EXPECT_EQ(KorvelTools::PlanPackageLayout(8192 - 40, {10}, 1).headerOffset, 8192u);
  EXPECT_EQ(KorvelTools::PlanPackageLayout(8192 - 40, {10}, 1, 128).headerOffset, 3u * 4096);
  EXPECT_EQ(KorvelTools::PlanPackageLayout(8192 - 128, {10}, 1, 128).headerOffset, 8192u);
  EXPECT_EQ(KorvelTools::PlanPackageLayout(8192, {10}, 1, 128).headerOffset, 3u * 4096);
}

TEST_F(SignedPackage, UnsignedPackagesAreRefusedWhenKeysAreConfigured) {
  Key publisher;
  const NolkSign::PublisherKeySet keys{{publisher.pair.publicKey}};
  const fs::path plain = Make("plain.exe", nullptr);
  EXPECT_EQ(Open(plain, keys), NOLKRESULT_REFUSED);
  EXPECT_NE(m_package.SignatureProblem().find("carries no publisher signature"), std::string::npos);
  EXPECT_FALSE(m_package.IsOpen());
  EXPECT_EQ(m_package.FindTargetVersion("100"), "");

  const fs::path room = Make("room.exe", nullptr, true);
  EXPECT_EQ(Open(room, keys), NOLKRESULT_REFUSED);
  EXPECT_NE(m_package.SignatureProblem().find("signature room is empty"), std::string::npos);
  // Without keys both open as always.
  EXPECT_EQ(Open(plain, {}), NOLKRESULT_OK);
  EXPECT_EQ(Open(room, {}), NOLKRESULT_OK);
  EXPECT_TRUE(m_package.SignatureProblem().empty());
}

TEST_F(SignedPackage, AnyChangedByteBreaksTheSignature) {
  Key publisher;
  const NolkSign::PublisherKeySet keys{{publisher.pair.publicKey}};
  const Bytes original = ReadFileBytes(Make("signed.exe", &publisher.pair));
  const std::size_t header = 3 * 4096;
  const std::size_t block = header - NolkSign::kPackageSignatureBlockSize;
  // In the program, in the padding, in the block's reserved tail, in the
  // header's build, in the archive, in the last table byte.
  for (std::size_t at : {std::size_t{100}, std::size_t{8192}, block + 120, header + 10, header + 72 + 5000,
                         original.size() - 1}) {
    Bytes bytes = original;
    bytes[at] ^= 0x20;
    WriteFileBytes(m_root / "changed.exe", bytes);
    const NolkResult opened = Open(m_root / "changed.exe", keys);
    EXPECT_NE(opened, NOLKRESULT_OK) << "byte " << at;
    if (opened == NOLKRESULT_REFUSED) {
      EXPECT_NE(m_package.SignatureProblem().find("changed after it was signed"), std::string::npos) << at;
    }
  }
  // The block's position is the header's: a copy with one page more
  // before it has no signature where the reader looks.
  Bytes shifted(4096, 0);
  shifted.insert(shifted.end(), original.begin(), original.end());
  WriteFileBytes(m_root / "shifted.exe", shifted);
  EXPECT_NE(Open(m_root / "shifted.exe", keys), NOLKRESULT_OK);
}

TEST_F(SignedPackage, WrongKeyRefusedSecondConfiguredKeyAccepted) {
  Key oldKey, newKey, stranger;
  const fs::path path = Make("signed.exe", &newKey.pair);
  EXPECT_EQ(Open(path, {{oldKey.pair.publicKey}}), NOLKRESULT_REFUSED);
  EXPECT_NE(m_package.SignatureProblem().find("does not trust"), std::string::npos);
  EXPECT_EQ(Open(path, {{oldKey.pair.publicKey, newKey.pair.publicKey}}), NOLKRESULT_OK);

  // A stranger's signature with the trusted key's name in the block.
  Bytes bytes = ReadFileBytes(Make("stranger.exe", &stranger.pair));
  const std::size_t block = 3 * 4096 - NolkSign::kPackageSignatureBlockSize;
  std::copy(newKey.pair.publicKey.begin(), newKey.pair.publicKey.end(), bytes.begin() + block + 16);
  WriteFileBytes(m_root / "stranger.exe", bytes);
  EXPECT_EQ(Open(m_root / "stranger.exe", {{newKey.pair.publicKey}}), NOLKRESULT_REFUSED);
  EXPECT_NE(m_package.SignatureProblem().find("does not match"), std::string::npos);
}

TEST_F(SignedPackage, ReservedRoomCanBeSignedLaterAndResigned) {
  Key first, second;
  const fs::path path = Make("room.exe", nullptr, true);
  std::string problem;
  {
    NolkDataBufferFile file(path.wstring(), NolkDataBufferFile::ReadWrite);
    ASSERT_TRUE(NolkSign::SignPackage(file, 3 * 4096, first.pair, problem)) << problem;
  }
  EXPECT_EQ(Open(path, {{first.pair.publicKey}}), NOLKRESULT_OK);
  m_package.Close();
  {
    NolkDataBufferFile file(path.wstring(), NolkDataBufferFile::ReadWrite);
    ASSERT_TRUE(NolkSign::SignPackage(file, 3 * 4096, second.pair, problem)) << problem;
  }
  EXPECT_EQ(Open(path, {{second.pair.publicKey}}), NOLKRESULT_OK);
  EXPECT_EQ(Open(path, {{first.pair.publicKey}}), NOLKRESULT_REFUSED);

  // Without reserved room there is nothing to sign: the bytes before the
  // header may be the program's.
  const fs::path plain = Make("plain.exe", nullptr);
  const Bytes before = ReadFileBytes(plain);
  NolkDataBufferFile file(plain.wstring(), NolkDataBufferFile::ReadWrite);
  EXPECT_FALSE(NolkSign::SignPackage(file, 8192, first.pair, problem));
  EXPECT_NE(problem.find("--signature-room"), std::string::npos) << problem;
  EXPECT_EQ(ReadFileBytes(plain), before);
}

}  // namespace
