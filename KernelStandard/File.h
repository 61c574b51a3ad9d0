// Vek::File: the kernel's buffered file, optionally in the compressed
// "CFIL" form (CompressedFile.h) or holding UTF-16 text.
//
// Writing: bytes go through a 16,384-byte buffer. A write of 16,384 bytes
// or more, or one while the buffer is full, flushes the buffer and writes
// directly at the logical position. Smaller writes are copied into the
// buffer, which is flushed whenever it becomes full. The logical size is the
// highest position reached. A failed direct write sets the logical size to 0
// and counts as 0 bytes written; a short flush moves the logical position
// back by the bytes that did not reach the file. Either failure also makes
// Close report false.
//
// A file opened for compressed writing is written plain; Close compresses
// it through a temporary file "%08X.T%08X" (process id, counter) in the
// current folder and puts that in the plain file's place. If writing the
// plain file failed, Close leaves it uncompressed and returns false rather
// than wrap damaged content in a valid-looking compressed file. (POSIX has
// no sharing modes or hidden attribute; the temporary file is opened by the
// platform layer's create-and-truncate mode.)
//
// Reading a compressed file walks the chunk headers from the start, or from
// the chunk after the loaded one when the target lies ahead, and expands the
// chunk holding the position into the buffer. A chunk that is short, cut off
// or does not expand to its content length marks the file damaged: the
// logical size becomes 0 and Read and Seek return -1 from then on.
//
// Every raw seek-and-read of a reading file is done between the two calls
// of the optional FileGuard, so several readers can share a descriptor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace Vek {

// Called around every raw seek-and-read, for example to hold a lock while
// another reader could move a shared descriptor.
class FileGuard {
 public:
  virtual ~FileGuard() = default;
  virtual void BeforeRawRead() = 0;
  virtual void AfterRawRead() = 0;
};

// Flags for File::Open: exactly one of READ and WRITE, plus options.
enum FileOpenFlags : unsigned {
  FILE_OPEN_READ = 0x1,   // existing file
  FILE_OPEN_WRITE = 0x2,  // created or truncated
  // With WRITE: compress on Close. With READ: expand when the file starts
  // with the "CFIL" header, read it plain otherwise.
  FILE_OPEN_COMPRESSED = 0x4,
  FILE_OPEN_UTF16 = 0x8,  // WriteText stores UTF-16LE
};

enum FileEncoding : int {
  FILE_ENCODING_8BIT = 0,
  FILE_ENCODING_UTF16 = 2,
};

class File {
 public:
  static constexpr std::size_t kBufferSize = 16384;

  File();
  ~File();  // closes the file (compressing it when asked)
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // False when the flags are not one of READ/WRITE, the file is already
  // open, the path cannot be opened, or a "CFIL" header has an unknown
  // version.
  bool Open(const std::wstring& path, unsigned flags);

  // Returns `length`, or 0 when writing failed. Throws FileEx with
  // "Write() File not open" or "Write() File not open for writing".
  std::size_t Write(const void* data, std::size_t length);
  // 8-bit text, stored as UTF-16LE code units when the file is UTF-16. An
  // empty text writes nothing. Returns the bytes written.
  std::size_t WriteText(const std::string& text);

  // Bytes read (0 at the end), or -1 when the file is not open for reading
  // or is damaged.
  std::int64_t Read(void* data, std::size_t length);
  // Moves to an absolute position and returns it, or -1 on failure. Throws
  // FileEx "Seek() Can't seek writing compressed file".
  std::int64_t Seek(std::uint64_t position);
  // True when everything written reached the file (and, for compressed
  // writing, the compressed form is in place). Closing a closed file is
  // harmless.
  bool Close();

  bool IsOpen() const { return m_fd >= 0; }
  bool IsCompressed() const;
  std::uint64_t Position() const { return m_position; }
  std::uint64_t Size() const { return m_size; }
  int Encoding() const { return m_encoding; }
  const std::wstring& Name() const { return m_name; }
  void SetGuard(FileGuard* guard) { m_guard = guard; }

 private:
  enum class Access { Closed, Read, ReadCompressed, Write, WriteCompressed };

  bool IsWriting() const { return m_access == Access::Write || m_access == Access::WriteCompressed; }
  bool IsReading() const { return m_access == Access::Read || m_access == Access::ReadCompressed; }
  void RequireWritable(int line) const;
  void ResetState();
  bool OpenForReading(const std::wstring& path, bool compressed);

  std::size_t WriteBuffered(const std::uint8_t* data, std::size_t length);
  std::size_t WriteDirect(const std::uint8_t* data, std::size_t length);
  bool Flush();
  bool SeekPhysical(std::uint64_t position);
  std::size_t WriteToDescriptor(const std::uint8_t* data, std::size_t length);

  bool BufferHolds(std::uint64_t position) const;
  long RawReadAt(std::uint64_t offset, void* data, std::size_t length);
  bool RawReadExactly(std::uint64_t offset, void* data, std::size_t length);
  std::int64_t ReadPlainDirect(std::uint8_t* data, std::size_t length);
  bool FillPlainBuffer(std::uint64_t position);
  bool LoadChunkFor(std::uint64_t position);
  bool ReadChunkHeader(std::uint64_t offset, std::uint16_t& header);
  bool SkipChunk(std::uint64_t index, std::uint64_t& offset);
  bool ExpandChunkAt(std::uint64_t index, std::uint64_t offset);
  bool MarkDamaged();

  int m_fd = -1;
  Access m_access = Access::Closed;
  std::vector<std::uint8_t> m_buffer;
  std::vector<std::uint8_t> m_packed;  // one compressed chunk while reading
  std::size_t m_fill = 0;              // valid (reading) or unwritten (writing) bytes
  std::uint64_t m_bufferStart = 0;     // logical offset of m_buffer[0] when reading
  std::uint64_t m_position = 0;        // logical position
  std::uint64_t m_size = 0;            // logical size
  std::uint64_t m_physical = 0;        // descriptor offset while writing
  std::uint64_t m_writtenEnd = 0;      // end of what actually reached the file
  std::uint64_t m_physicalSize = 0;    // bytes in the file when opened for reading
  std::uint64_t m_loadedChunk = 0;     // chunk in the buffer, when m_chunkLoaded
  std::uint64_t m_nextChunk = 0;       // physical offset of the chunk after it
  bool m_chunkLoaded = false;
  bool m_failed = false;  // a write failed, or the file is damaged
  FileGuard* m_guard = nullptr;
  int m_encoding = FILE_ENCODING_8BIT;
  std::wstring m_name;
};

}  // namespace Vek
