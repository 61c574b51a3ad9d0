// A file that the archive unpacker creates in the patch folder, behind the
// NolkDataBuffer interface, written straight through a platform descriptor:
// every block the decompressor hands over is one checked write, so a full
// disk fails the entry at once instead of at an unchecked close.
//
// The file is not forced to the disk. The patch folder is scratch space:
// after a crash the run driver removes it and unpacks the archive again, so
// nothing in it has to survive one. What must survive (the files that end
// up in the installation) is forced to the disk when the patch commits
// (CommitToDisk.h).
//
// Write only and sequential: reads give 1, resizing and seeking 6.
#pragma once

#include <cstdint>
#include <string>

#include "stream/NolkDataBuffer.h"

namespace NolkPatch {

class UnpackedFile : public NolkDataBuffer {
 public:
  // Creates the file (an existing one is truncated). The path is made 8-bit
  // first, as every stream path of the program is.
  explicit UnpackedFile(const std::wstring& path);
  ~UnpackedFile() override;

  bool IsOpen() const { return m_descriptor >= 0; }

  std::uint64_t GetSize() const override { return m_position; }
  NolkResult SetSize(std::uint64_t length) override;
  std::uint64_t GetPosition() const override { return m_position; }
  NolkResult SetPosition(std::uint64_t position) override;
  NolkResult WriteData(const void* data, std::uint32_t length) override;
  NolkResult ReadData(void* data, std::uint32_t length) override;

 private:
  int m_descriptor = -1;
  std::uint64_t m_position = 0;
};

}  // namespace NolkPatch
