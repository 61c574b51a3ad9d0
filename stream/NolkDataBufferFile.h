// NolkDataBufferFile: a file on disk behind the NolkDataBuffer interface,
// through a buffered stream of the platform layer.
//
// Access modes and how they open the file:
//   ReadOnly    (0) existing file, read only; size = file length
//   WriteNew    (1) created or truncated, write only, committed on Flush
//   WriteUpdate (2) existing file kept (created when missing), write only,
//                   committed on Flush; size = file length
//   ReadWrite   (3) existing file only, read and write, committed on Flush
// A failed open (or an unknown mode) leaves the buffer unusable: every
// operation then returns 7. Writes in ReadOnly and reads in the write-only
// modes return 1. A short read or write of the file returns 2.
//
// Size and position are kept in the object, so GetSize and GetPosition make
// no system call. In ReadWrite mode a change between reading and writing
// closes the stream, reopens it and seeks to the kept position, so reads and
// writes never mix on one open stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "stream/NolkDataBuffer.h"

class NolkDataBufferFile : public NolkDataBuffer {
 public:
  enum AccessMode : std::int32_t {
    ReadOnly = 0,
    WriteNew = 1,
    WriteUpdate = 2,
    ReadWrite = 3,
  };

  NolkDataBufferFile(const std::wstring& path, AccessMode accessMode);
  ~NolkDataBufferFile() override;

  std::uint64_t GetSize() const override { return m_size; }
  NolkResult SetSize(std::uint64_t length) override;
  std::uint64_t GetPosition() const override { return m_position; }
  NolkResult SetPosition(std::uint64_t position) override;
  NolkResult WriteData(const void* data, std::uint32_t length) override;
  NolkResult ReadData(void* data, std::uint32_t length) override;
  void Flush() override;
  // Whether Flush forces the bytes to the disk, as the write modes do by
  // default. A file whose content is checked again before it is used (a
  // downloaded patch archive) can skip the wait.
  void SetCommitOnFlush(bool commit) { m_commitOnFlush = commit; }

  bool IsOpen() const { return m_stream != nullptr; }
  // The path as kept by the buffer: every separator turned into '\'.
  const std::wstring& GetPath() const { return m_path; }
  // The path as the platform's stream functions were given it, for a second
  // handle on the same file.
  std::wstring StreamPath() const;

 private:
  void Open();
  bool OpenReadOnly();
  bool OpenWriteNew();
  bool OpenWriteUpdate();
  bool OpenReadWrite();
  bool TakeLengthAsSize();
  // Before a transfer in the direction given: in ReadWrite mode, reopens the
  // stream when the last operation went the other way.
  NolkResult PrepareDirection(bool reading);
  NolkResult Reopen();
  void CloseStream();

  std::FILE* m_stream = nullptr;
  AccessMode m_accessMode;
  std::uint64_t m_size = 0;
  std::uint64_t m_position = 0;
  bool m_lastOperationWasRead = false;
  std::wstring m_path;
  // The file was opened to be forced to the disk on Flush (all modes that
  // write).
  bool m_commitOnFlush = false;
};
