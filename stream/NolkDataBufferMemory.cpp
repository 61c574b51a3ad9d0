#include "stream/NolkDataBufferMemory.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace {

constexpr std::uint64_t kMaxMemoryLength = std::numeric_limits<std::uint32_t>::max();

// Allocates without initialising: callers overwrite every byte.
std::unique_ptr<std::uint8_t[]> AllocateBlock(std::uint32_t length) {
  return std::unique_ptr<std::uint8_t[]>(new (std::nothrow) std::uint8_t[length == 0 ? 1 : length]);
}

bool IsBadTransfer(const void* data, std::uint32_t length) {
  return data == nullptr && length != 0;
}

}  // namespace

// --- NolkDataBufferMemoryDynamic ------------------------------------------

NolkResult NolkDataBufferMemoryDynamic::SetSize(std::uint64_t length) {
  if (length > kMaxMemoryLength) return NOLKRESULT_NO_ROOM;
  try {
    m_data.resize(static_cast<std::size_t>(length));
  } catch (const std::bad_alloc&) {
    return NOLKRESULT_NO_ROOM;
  } catch (const std::length_error&) {
    return NOLKRESULT_NO_ROOM;
  }
  m_position = std::min<std::uint32_t>(m_position, static_cast<std::uint32_t>(length));
  return NOLKRESULT_OK;
}

NolkResult NolkDataBufferMemoryDynamic::SetPosition(std::uint64_t position) {
  if (position > m_data.size()) {
    m_position = static_cast<std::uint32_t>(m_data.size());
    return NOLKRESULT_END_OF_DATA;
  }
  m_position = static_cast<std::uint32_t>(position);
  return NOLKRESULT_OK;
}

NolkResult NolkDataBufferMemoryDynamic::WriteData(const void* data, std::uint32_t length) {
  if (IsBadTransfer(data, length)) return NOLKRESULT_BAD_ARGUMENT;
  if (length == 0) return NOLKRESULT_OK;
  const std::uint64_t end = std::uint64_t{m_position} + length;
  if (end > m_data.size()) {
    // resize grows the capacity geometrically, so a series of appends stays
    // linear.
    if (end > kMaxMemoryLength) return NOLKRESULT_NO_ROOM;
    try {
      m_data.resize(static_cast<std::size_t>(end));
    } catch (const std::exception&) {
      return NOLKRESULT_NO_ROOM;
    }
  }
  std::memcpy(m_data.data() + m_position, data, length);
  m_position = static_cast<std::uint32_t>(end);
  return NOLKRESULT_OK;
}

NolkResult NolkDataBufferMemoryDynamic::ReadData(void* data, std::uint32_t length) {
  if (IsBadTransfer(data, length)) return NOLKRESULT_BAD_ARGUMENT;
  const std::uint32_t available = static_cast<std::uint32_t>(m_data.size() - m_position);
  const std::uint32_t count = std::min(length, available);
  if (count != 0) std::memcpy(data, m_data.data() + m_position, count);
  m_position += count;
  return count < length ? NOLKRESULT_END_OF_DATA : NOLKRESULT_OK;
}

// --- NolkDataBufferMemoryStatic -------------------------------------------

NolkDataBufferMemoryStatic::NolkDataBufferMemoryStatic(void* block, std::uint32_t length)
    : m_block(static_cast<std::uint8_t*>(block)), m_size(block == nullptr ? 0 : length) {}

NolkDataBufferMemoryStatic::NolkDataBufferMemoryStatic(std::unique_ptr<std::uint8_t[]> block,
                                                       std::uint32_t length)
    : m_block(block.get()), m_size(block == nullptr ? 0 : length), m_ownedBlock(std::move(block)) {}

std::unique_ptr<NolkDataBufferMemoryStatic> NolkDataBufferMemoryStatic::TakeOwnership(
    std::unique_ptr<std::uint8_t[]> block, std::uint32_t length) {
  return std::unique_ptr<NolkDataBufferMemoryStatic>(
      new NolkDataBufferMemoryStatic(std::move(block), length));
}

std::unique_ptr<NolkDataBufferMemoryStatic> NolkDataBufferMemoryStatic::CopyOf(const void* bytes,
                                                                               std::uint32_t length) {
  if (IsBadTransfer(bytes, length)) return nullptr;
  auto block = AllocateBlock(length);
  if (block == nullptr) return nullptr;
  auto buffer = TakeOwnership(std::move(block), length);
  if (buffer->WriteData(bytes, length) != NOLKRESULT_OK) return nullptr;
  buffer->m_position = 0;
  return buffer;
}

std::unique_ptr<NolkDataBufferMemoryStatic> NolkDataBufferMemoryStatic::FromRestOf(NolkDataBuffer& source) {
  const std::uint64_t size = source.GetSize();
  const std::uint64_t position = source.GetPosition();
  const std::uint64_t rest = size > position ? size - position : 0;
  if (rest > kMaxMemoryLength) return nullptr;
  const auto length = static_cast<std::uint32_t>(rest);
  auto block = AllocateBlock(length);
  if (block == nullptr) return nullptr;
  if (source.ReadData(block.get(), length) != NOLKRESULT_OK) return nullptr;
  return TakeOwnership(std::move(block), length);
}

NolkResult NolkDataBufferMemoryStatic::SetSize(std::uint64_t) {
  return NOLKRESULT_NOT_ALLOWED;
}

NolkResult NolkDataBufferMemoryStatic::SetPosition(std::uint64_t position) {
  if (position > m_size) {
    m_position = m_size;
    return NOLKRESULT_END_OF_DATA;
  }
  m_position = static_cast<std::uint32_t>(position);
  return NOLKRESULT_OK;
}

NolkResult NolkDataBufferMemoryStatic::WriteData(const void* data, std::uint32_t length) {
  if (IsBadTransfer(data, length)) return NOLKRESULT_BAD_ARGUMENT;
  const std::uint32_t count = std::min(length, Remaining());
  if (count != 0) std::memcpy(m_block + m_position, data, count);
  m_position += count;
  return count < length ? NOLKRESULT_NO_ROOM : NOLKRESULT_OK;
}

const std::uint8_t* NolkDataBufferMemoryStatic::ReadInPlace(std::uint32_t length) {
  if (length > Remaining()) return nullptr;
  const std::uint8_t* bytes = m_block + m_position;
  m_position += length;
  return bytes;
}

std::uint8_t* NolkDataBufferMemoryStatic::WriteInPlace(std::uint32_t length) {
  if (length > Remaining()) return nullptr;
  std::uint8_t* bytes = m_block + m_position;
  m_position += length;
  return bytes;
}

NolkResult NolkDataBufferMemoryStatic::ReadData(void* data, std::uint32_t length) {
  if (IsBadTransfer(data, length)) return NOLKRESULT_BAD_ARGUMENT;
  const std::uint32_t count = std::min(length, Remaining());
  if (count != 0) std::memcpy(data, m_block + m_position, count);
  m_position += count;
  return count < length ? NOLKRESULT_END_OF_DATA : NOLKRESULT_OK;
}
