// A whole file mapped into memory for reading, so a large file can be used
// in place from the page cache: no copy into the process, and no private
// memory to fault in. The diff tool maps the old file this way, because the
// decoder refers back into all of it while it writes the new file.
//
// The view shows the file's bytes as they are on the disk; a file that
// someone truncates while it is mapped makes the next access past the new
// end fault, so only files that the caller alone changes (a backup, its own
// input) should be mapped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace OS {

class MappedFile {
 public:
  virtual ~MappedFile() = default;
  // The file's bytes; null for an empty file.
  virtual const std::uint8_t* Data() const = 0;
  virtual std::size_t Size() const = 0;
};

// Maps a regular file for reading, with its pages read ahead into memory.
// Null (with the last error set) when the file is missing, a folder, too
// large for the address space, or cannot be mapped. Fault injection:
// operation "MapFile".
std::unique_ptr<MappedFile> MapFileForReading(const std::wstring& path);

}  // namespace OS
