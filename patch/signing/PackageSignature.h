// The publisher's signature of a standalone patch (the program with its
// package appended).
//
// Where it is carried: in the last 128 bytes before the package header,
// which the packager reserves inside the zero padding between the program
// and the 4,096-aligned header (korvel-package --signature-room or
// --sign-with). The package reader looks only at multiples of 4,096 for
// the header and compares the file's length with the header's file size,
// so the block changes neither: a patcher without keys reads a signed
// standalone patch exactly as an unsigned one.
//
// The block (128 bytes):
//   0..7    magic "KrvSig01"
//   8..11   format, unsigned 32-bit little-endian, 1
//   12..15  reserved, 0
//   16..47  the signer's public key (names which configured key to use)
//   48..111 the Ed25519ph signature
//   112..127 reserved, 0
// A reserved but unsigned block has the magic and format and zeros after.
//
// What is signed: the whole file, program, padding, header, archives and
// tables, with bytes 16..127 of the block read as zeros. The key field only
// picks the configured key to verify with, and the reserved tail must be
// zeros, so nothing of the file can change without the package being
// refused; the block's own position is fixed by the header position the
// reader found.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "patch/signing/Ed25519.h"
#include "patch/signing/ListSignature.h"
#include "patch/signing/PublisherKeys.h"
#include "stream/NolkDataBuffer.h"

namespace NolkSign {

inline constexpr std::size_t kPackageSignatureBlockSize = 128;
inline constexpr std::array<std::uint8_t, 8> kPackageSignatureMagic = {'K', 'r', 'v', 'S',
                                                                       'i', 'g', '0', '1'};
inline constexpr std::size_t kSignedFieldsOffset = 16;  // key, signature and reserved tail
inline constexpr std::size_t kSignatureKeyOffset = 16;
inline constexpr std::size_t kSignatureValueOffset = 48;

using PackageSignatureBlock = std::array<std::uint8_t, kPackageSignatureBlockSize>;

// The block the packager writes to reserve the room: magic, format 1, zeros.
PackageSignatureBlock ReservedSignatureBlock();

// Checks the signature of the package file whose header sits at
// `headerPosition`. Reads the whole file from its start; the file's
// position is left anywhere.
Verdict VerifyPackageSignature(NolkDataBuffer& file, std::uint64_t headerPosition,
                               const PublisherKeySet& keys);

// Signs the package file in place (the block must be reserved already);
// `problem` says why not on failure.
bool SignPackage(NolkDataBuffer& file, std::uint64_t headerPosition, const KeyPair& pair,
                 std::string& problem);

}  // namespace NolkSign
