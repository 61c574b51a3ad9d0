// Memory variants of NolkDataBuffer.
//
// NolkDataBufferMemoryDynamic: a growable block that owns its bytes. Writes
// past the end grow it; SetPosition past the end clamps to the end (8).
//
// NolkDataBufferMemoryStatic: a block of fixed length, either borrowed (the
// plain constructor) or owned (the three creators). Writes that do not fit
// copy what fits and return 9; SetSize is refused with 1.
//
// Positions are 32-bit, so neither variant grows beyond 4 GiB - 1 bytes: a
// resize or write that would go past that returns 9.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "stream/NolkDataBuffer.h"

class NolkDataBufferMemoryDynamic : public NolkDataBuffer {
 public:
  NolkDataBufferMemoryDynamic() = default;

  std::uint64_t GetSize() const override { return m_data.size(); }
  NolkResult SetSize(std::uint64_t length) override;
  std::uint64_t GetPosition() const override { return m_position; }
  NolkResult SetPosition(std::uint64_t position) override;
  NolkResult WriteData(const void* data, std::uint32_t length) override;
  NolkResult ReadData(void* data, std::uint32_t length) override;

  // Direct access for code that hands the bytes on as a whole.
  const std::vector<std::uint8_t>& Bytes() const { return m_data; }

 private:
  std::vector<std::uint8_t> m_data;
  std::uint32_t m_position = 0;
};

class NolkDataBufferMemoryStatic : public NolkDataBuffer {
 public:
  // Borrows (block, length); the caller keeps the block alive and frees it.
  // A null block is taken as an empty one.
  NolkDataBufferMemoryStatic(void* block, std::uint32_t length);

  // Takes over a block the caller allocated with new[].
  static std::unique_ptr<NolkDataBufferMemoryStatic> TakeOwnership(std::unique_ptr<std::uint8_t[]> block,
                                                                   std::uint32_t length);
  // Owns a copy of (bytes, length); the position starts at 0. Null when the
  // copy cannot be allocated.
  static std::unique_ptr<NolkDataBufferMemoryStatic> CopyOf(const void* bytes, std::uint32_t length);
  // Owns the bytes from the source's position to its end, read with
  // ReadData. Null when they cannot be allocated, do not fit in 32 bits, or
  // the read fails.
  static std::unique_ptr<NolkDataBufferMemoryStatic> FromRestOf(NolkDataBuffer& source);

  std::uint64_t GetSize() const override { return m_size; }
  NolkResult SetSize(std::uint64_t length) override;
  std::uint64_t GetPosition() const override { return m_position; }
  NolkResult SetPosition(std::uint64_t position) override;
  NolkResult WriteData(const void* data, std::uint32_t length) override;
  NolkResult ReadData(void* data, std::uint32_t length) override;
  const std::uint8_t* ReadInPlace(std::uint32_t length) override;
  std::uint8_t* WriteInPlace(std::uint32_t length) override;

  const std::uint8_t* Block() const { return m_block; }
  bool OwnsBlock() const { return m_ownedBlock != nullptr; }

 private:
  NolkDataBufferMemoryStatic(std::unique_ptr<std::uint8_t[]> block, std::uint32_t length);

  std::uint32_t Remaining() const { return m_size - m_position; }

  std::uint8_t* m_block = nullptr;
  std::uint32_t m_position = 0;
  std::uint32_t m_size = 0;
  std::unique_ptr<std::uint8_t[]> m_ownedBlock;  // set when the block is ours
};
