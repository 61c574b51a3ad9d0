#include "patch/AssetDatabaseBlock.h"

#include <atomic>
#include <bit>

namespace NolkPatch {
namespace {

std::uint32_t SwapBytes(std::uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

// The block's byte order is little-endian whatever the host's.
std::uint32_t LittleEndian(std::uint32_t value) {
  if constexpr (std::endian::native == std::endian::little) return value;
  return SwapBytes(value);
}

}  // namespace

void AssetDatabaseBlock::Initialise(std::int32_t creator) {
  SetCreator(creator);
  SetOwner(kNoProcess);
  SetRequester(kNoProcess);
  Store(OFFSET_CHANGE_COUNTER, 0);
  SetFormat(kCountingFormat);
  SetAttachedCount(1);
  SetHolder(kNoHolder);
  SetLendsOwnership(false);
}

std::uint32_t AssetDatabaseBlock::Load(std::size_t offset) const {
  auto* field = reinterpret_cast<std::uint32_t*>(m_bytes + offset);
  return LittleEndian(std::atomic_ref<std::uint32_t>(*field).load());
}

void AssetDatabaseBlock::Store(std::size_t offset, std::uint32_t value) {
  auto* field = reinterpret_cast<std::uint32_t*>(m_bytes + offset);
  std::atomic_ref<std::uint32_t>(*field).store(LittleEndian(value));
}

std::uint8_t AssetDatabaseBlock::LoadByte(std::size_t offset) const {
  return std::atomic_ref<std::uint8_t>(m_bytes[offset]).load();
}

void AssetDatabaseBlock::StoreByte(std::size_t offset, std::uint8_t value) {
  std::atomic_ref<std::uint8_t>(m_bytes[offset]).store(value);
}

}  // namespace NolkPatch
