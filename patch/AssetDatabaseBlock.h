// The 32-byte block of shared memory through which the game's programs
// coordinate the asset database. Integers are little-endian; every field is
// read and written as one atomic access, because other processes change the
// block while this one looks at it.
//
//   offset  width  field
//        0      4  creator process id (signed; -1 once the creator has left)
//        4      4  owner process id (-1 none)
//        8      4  requester process id (-1 none)
//       12      4  change counter (unsigned)
//       16      4  format word (attachments are counted when non-zero)
//       20      1  attached process count (signed 8-bit; 255 means unknown)
//       24      4  exclusive holder process id (0 none)
//       28      1  holder-lends-ownership flag
// The bytes 21-23 and 29-31 are reserved and never written.
#pragma once

#include <cstddef>
#include <cstdint>

namespace NolkPatch {

class AssetDatabaseBlock {
 public:
  static constexpr std::size_t kSize = 32;
  static constexpr std::int32_t kNoProcess = -1;
  static constexpr std::int32_t kNoHolder = 0;
  static constexpr std::uint32_t kCountingFormat = 2;
  static constexpr std::uint8_t kUnknownCount = 255;

  enum Offset : std::size_t {
    OFFSET_CREATOR = 0,
    OFFSET_OWNER = 4,
    OFFSET_REQUESTER = 8,
    OFFSET_CHANGE_COUNTER = 12,
    OFFSET_FORMAT = 16,
    OFFSET_ATTACHED_COUNT = 20,
    OFFSET_HOLDER = 24,
    OFFSET_LENDS_OWNERSHIP = 28,
  };

  // `bytes` must point at kSize bytes aligned to 4.
  explicit AssetDatabaseBlock(std::uint8_t* bytes) : m_bytes(bytes) {}

  // The values of a new block made by `creator`.
  void Initialise(std::int32_t creator);

  std::int32_t Creator() const { return LoadSigned(OFFSET_CREATOR); }
  std::int32_t Owner() const { return LoadSigned(OFFSET_OWNER); }
  std::int32_t Requester() const { return LoadSigned(OFFSET_REQUESTER); }
  std::uint32_t ChangeCounter() const { return Load(OFFSET_CHANGE_COUNTER); }
  std::uint32_t Format() const { return Load(OFFSET_FORMAT); }
  std::uint8_t AttachedCount() const { return LoadByte(OFFSET_ATTACHED_COUNT); }
  // The count as the game's programs compare it: 255 is -1.
  std::int8_t SignedAttachedCount() const { return static_cast<std::int8_t>(AttachedCount()); }
  std::int32_t Holder() const { return LoadSigned(OFFSET_HOLDER); }
  bool LendsOwnership() const { return LoadByte(OFFSET_LENDS_OWNERSHIP) != 0; }

  void SetCreator(std::int32_t process) { StoreSigned(OFFSET_CREATOR, process); }
  void SetOwner(std::int32_t process) { StoreSigned(OFFSET_OWNER, process); }
  void SetRequester(std::int32_t process) { StoreSigned(OFFSET_REQUESTER, process); }
  void SetFormat(std::uint32_t format) { Store(OFFSET_FORMAT, format); }
  void SetAttachedCount(std::uint8_t count) { StoreByte(OFFSET_ATTACHED_COUNT, count); }
  void SetHolder(std::int32_t process) { StoreSigned(OFFSET_HOLDER, process); }
  void SetLendsOwnership(bool lends) { StoreByte(OFFSET_LENDS_OWNERSHIP, lends ? 1 : 0); }

 private:
  std::uint32_t Load(std::size_t offset) const;
  void Store(std::size_t offset, std::uint32_t value);
  std::int32_t LoadSigned(std::size_t offset) const { return static_cast<std::int32_t>(Load(offset)); }
  void StoreSigned(std::size_t offset, std::int32_t value) {
    Store(offset, static_cast<std::uint32_t>(value));
  }
  std::uint8_t LoadByte(std::size_t offset) const;
  void StoreByte(std::size_t offset, std::uint8_t value);

  std::uint8_t* m_bytes;
};

}  // namespace NolkPatch
