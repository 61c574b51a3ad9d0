// NolkDataBuffer: the one byte-stream interface of the program. A buffer is
// a seekable sequence of bytes with a 64-bit size and a 64-bit position,
// read and written in blocks. Every reader and writer of bytes (package
// reader, checksums, downloads, repair transfer) is written against this
// interface and does not know which variant it has.
//
// Operations never throw; failures are result codes (ResultCodes.h):
//   1 not allowed by the access mode / cannot resize, 2 file operation
//   failed, 5 null data pointer with a non-zero length, 6 not supported,
//   7 not open, 8 end of data, 9 no room or no memory.
// A read or write of length 0 returns 0 once the variant's not-open and
// access-mode checks have passed. ReadData and WriteData advance the
// position by the number of bytes actually transferred.
#pragma once

#include <cstdint>

#include "KernelStandard/ResultCodes.h"

class NolkDataBuffer {
 public:
  virtual ~NolkDataBuffer() = default;

  virtual std::uint64_t GetSize() const = 0;
  virtual NolkResult SetSize(std::uint64_t length) = 0;
  virtual std::uint64_t GetPosition() const = 0;
  virtual NolkResult SetPosition(std::uint64_t position) = 0;
  virtual NolkResult WriteData(const void* data, std::uint32_t length) = 0;
  virtual NolkResult ReadData(void* data, std::uint32_t length) = 0;
  // Pushes buffered bytes out; only the file variant has any.
  virtual void Flush() {}

  // Direct access for callers that can work on the bytes where they lie
  // (the block decoder): the next `length` bytes at the position, after
  // which the position is past them. Null, with nothing moved, when the
  // variant has no such bytes in memory; the caller then reads or writes
  // through a buffer of its own.
  virtual const std::uint8_t* ReadInPlace(std::uint32_t /*length*/) { return nullptr; }
  virtual std::uint8_t* WriteInPlace(std::uint32_t /*length*/) { return nullptr; }

  // A buffer stands for one stream (a file handle, an owned block): it is
  // not copied.
  NolkDataBuffer(const NolkDataBuffer&) = delete;
  NolkDataBuffer& operator=(const NolkDataBuffer&) = delete;

 protected:
  NolkDataBuffer() = default;
};
