#include "patch/signing/PackageSignature.h"

#include <algorithm>
#include <vector>

namespace NolkSign {
namespace {

constexpr std::uint32_t kBlockFormat = 1;
constexpr std::size_t kReservedTailOffset = 112;

bool ReadBlock(NolkDataBuffer& file, std::uint64_t headerPosition, PackageSignatureBlock& block) {
  if (headerPosition < kPackageSignatureBlockSize) return false;
  return file.SetPosition(headerPosition - kPackageSignatureBlockSize) == NOLKRESULT_OK &&
         file.ReadData(block.data(), kPackageSignatureBlockSize) == NOLKRESULT_OK;
}

bool HasReservedBlock(const PackageSignatureBlock& block) {
  return std::equal(kPackageSignatureMagic.begin(), kPackageSignatureMagic.end(), block.begin()) &&
         block[8] == (kBlockFormat & 0xff) && block[9] == 0 && block[10] == 0 && block[11] == 0;
}

// Feeds the whole file to `message`, the signed fields of the block read as
// zeros.
bool HashPackage(NolkDataBuffer& file, std::uint64_t headerPosition, PrehashedMessage& message) {
  const std::uint64_t zeroFrom = headerPosition - kPackageSignatureBlockSize + kSignedFieldsOffset;
  const std::uint64_t zeroTo = headerPosition;
  const std::uint64_t size = file.GetSize();
  if (file.SetPosition(0) != NOLKRESULT_OK) return false;
  std::vector<std::uint8_t> buffer(1 << 20);
  for (std::uint64_t position = 0; position < size;) {
    const auto length = static_cast<std::uint32_t>(std::min<std::uint64_t>(buffer.size(), size - position));
    if (file.ReadData(buffer.data(), length) != NOLKRESULT_OK) return false;
    const std::uint64_t end = position + length;
    if (zeroFrom < end && position < zeroTo) {
      const std::uint64_t from = std::max(zeroFrom, position);
      const std::uint64_t to = std::min(zeroTo, end);
      std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(from - position),
                buffer.begin() + static_cast<std::ptrdiff_t>(to - position), 0);
    }
    message.Update(buffer.data(), length);
    position = end;
  }
  return true;
}

}  // namespace

PackageSignatureBlock ReservedSignatureBlock() {
  PackageSignatureBlock block{};
  std::copy(kPackageSignatureMagic.begin(), kPackageSignatureMagic.end(), block.begin());
  block[8] = kBlockFormat & 0xff;
  return block;
}

Verdict VerifyPackageSignature(NolkDataBuffer& file, std::uint64_t headerPosition,
                               const PublisherKeySet& keys) {
  PackageSignatureBlock block{};
  if (!ReadBlock(file, headerPosition, block) || !HasReservedBlock(block))
    return Verdict::Refused("it carries no publisher signature");
  PublicKey signer{};
  Signature signature{};
  std::copy_n(block.begin() + kSignatureKeyOffset, signer.size(), signer.begin());
  std::copy_n(block.begin() + kSignatureValueOffset, signature.size(), signature.begin());
  if (std::all_of(signature.begin(), signature.end(), [](std::uint8_t b) { return b == 0; }))
    return Verdict::Refused("it carries no publisher signature (its signature room is empty)");
  // The block's reserved tail is read as zeros when hashing, so it must be
  // zeros: otherwise it could change unnoticed.
  if (std::any_of(block.begin() + kReservedTailOffset, block.end(), [](std::uint8_t b) { return b != 0; }))
    return Verdict::Refused("it was changed after it was signed (its signature block is damaged)");
  if (!keys.Contains(signer)) return Verdict::Refused("it is signed with a key this patcher does not trust");
  PrehashedMessage message;
  if (!HashPackage(file, headerPosition, message)) return Verdict::Refused("it cannot be read");
  if (!message.Verify(signature, signer))
    return Verdict::Refused("it was changed after it was signed (its signature does not match)");
  return Verdict::Trusted();
}

bool SignPackage(NolkDataBuffer& file, std::uint64_t headerPosition, const KeyPair& pair,
                 std::string& problem) {
  PackageSignatureBlock block{};
  if (!ReadBlock(file, headerPosition, block) || !HasReservedBlock(block)) {
    problem =
        "the standalone patch has no room for a signature before its package header; make it with "
        "korvel-package --signature-room (or --sign-with)";
    return false;
  }
  PrehashedMessage message;
  if (!HashPackage(file, headerPosition, message)) {
    problem = "cannot read the standalone patch";
    return false;
  }
  const Signature signature = message.Sign(pair);
  std::fill(block.begin() + kSignedFieldsOffset, block.end(), 0);
  std::copy(pair.publicKey.begin(), pair.publicKey.end(), block.begin() + kSignatureKeyOffset);
  std::copy(signature.begin(), signature.end(), block.begin() + kSignatureValueOffset);
  if (file.SetPosition(headerPosition - kPackageSignatureBlockSize) != NOLKRESULT_OK ||
      file.WriteData(block.data(), kPackageSignatureBlockSize) != NOLKRESULT_OK) {
    problem = "cannot write the signature into the standalone patch";
    return false;
  }
  file.Flush();
  return true;
}

}  // namespace NolkSign
