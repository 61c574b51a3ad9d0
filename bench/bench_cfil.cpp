// Throughput of the compressed "CFIL" file form of Vek::File, beside two
// references on the same bytes: the plain (uncompressed) Vek::File, and zlib
// compress/uncompress of the same 16,384-byte chunks in memory.
//
// Usage: bench_cfil [MiB]   (default 64)
//
// The data mixes what an installation holds: text (scripts, configuration),
// fixed-size binary records, sparse and zero-filled regions, and already
// compressed assets (noise).
#include <zlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "KernelStandard/CompressedFile.h"
#include "KernelStandard/File.h"
#include "KernelStandard/platform/Platform.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kMiB = 1 << 20;
constexpr std::size_t kPiece = 64 * 1024;  // bytes per Write/Read call

void AppendText(Bytes& out, std::size_t size, std::mt19937& random) {
  static const char* const kWords[] = {"texture", "mesh",    "Ombrix", "install", "patch", "version", "=",
                                       "\r\n",    "data/",   ".bin",   "level",   "sound", "speed",   "0.5",
                                       "[Main]",  "enabled", "false",  "model",   "\t",    "end"};
  std::size_t end = out.size() + size;
  while (out.size() < end) {
    std::string word = kWords[random() % std::size(kWords)];
    if (random() % 5 == 0) word += std::to_string(random() % 10000);
    word += ' ';
    out.insert(out.end(), word.begin(), word.end());
  }
  out.resize(end);
}

void AppendRecords(Bytes& out, std::size_t size, std::mt19937& random) {
  std::size_t end = out.size() + size;
  for (std::uint32_t id = 0; out.size() < end; ++id) {
    std::uint8_t record[32] = {};
    std::memcpy(record, &id, 4);
    float x = static_cast<float>(random() % 1000) * 0.25f;
    std::memcpy(record + 4, &x, 4);
    record[8] = static_cast<std::uint8_t>(random() % 4);
    std::memcpy(record + 16, "NODE", 4);
    out.insert(out.end(), record, record + sizeof record);
  }
  out.resize(end);
}

void AppendSparse(Bytes& out, std::size_t size, std::mt19937& random) {
  std::size_t start = out.size();
  out.resize(start + size, 0);
  for (std::size_t i = start; i < out.size(); i += 1 + random() % 512)
    out[i] = static_cast<std::uint8_t>(random());
}

void AppendNoise(Bytes& out, std::size_t size, std::mt19937& random) {
  for (std::size_t i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>(random() >> 24));
}

// Per 10 MiB: 4 text, 3 records, 1 sparse, 2 noise, in 1 MiB pieces.
Bytes MakeMixedData(std::size_t total) {
  using Maker = void (*)(Bytes&, std::size_t, std::mt19937&);
  const Maker pattern[] = {AppendText,   AppendRecords, AppendNoise, AppendText,    AppendRecords,
                           AppendSparse, AppendText,    AppendNoise, AppendRecords, AppendText};
  std::mt19937 random(2024);
  Bytes data;
  data.reserve(total);
  for (std::size_t i = 0; data.size() < total; ++i) {
    pattern[i % std::size(pattern)](data, std::min(kMiB, total - data.size()), random);
  }
  return data;
}

double Seconds(const std::function<bool()>& work, bool& ok) {
  auto start = std::chrono::steady_clock::now();
  ok = work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool WriteWithFile(const std::wstring& path, unsigned flags, const Bytes& data) {
  Vek::File file;
  if (!file.Open(path, Vek::FILE_OPEN_WRITE | flags)) return false;
  for (std::size_t at = 0; at < data.size(); at += kPiece) {
    std::size_t piece = std::min(kPiece, data.size() - at);
    if (file.Write(data.data() + at, piece) != piece) return false;
  }
  return file.Close();
}

bool ReadWithFile(const std::wstring& path, unsigned flags, Bytes& back) {
  Vek::File file;
  if (!file.Open(path, Vek::FILE_OPEN_READ | flags)) return false;
  back.resize(static_cast<std::size_t>(file.Size()));
  for (std::size_t at = 0; at < back.size();) {
    std::int64_t got = file.Read(back.data() + at, std::min(kPiece, back.size() - at));
    if (got <= 0) return false;
    at += static_cast<std::size_t>(got);
  }
  return true;
}

struct ZlibChunks {
  std::vector<Bytes> packed;
  std::size_t total = 0;
};

bool ZlibCompress(const Bytes& data, ZlibChunks& out) {
  out = {};
  for (std::size_t at = 0; at < data.size(); at += Vek::kCompressedChunkSize) {
    uLong length = static_cast<uLong>(std::min(Vek::kCompressedChunkSize, data.size() - at));
    uLongf bound = compressBound(length);
    Bytes packed(bound);
    if (compress(packed.data(), &bound, data.data() + at, length) != Z_OK) return false;
    packed.resize(bound);
    out.total += bound + 2;  // with a chunk header like CFIL's
    out.packed.push_back(std::move(packed));
  }
  return true;
}

bool ZlibUncompress(const ZlibChunks& chunks, Bytes& back) {
  std::size_t at = 0;
  for (const Bytes& packed : chunks.packed) {
    uLongf length = static_cast<uLongf>(std::min(Vek::kCompressedChunkSize, back.size() - at));
    if (uncompress(back.data() + at, &length, packed.data(), packed.size()) != Z_OK) return false;
    at += length;
  }
  return at == back.size();
}

struct Figure {
  double writeSeconds = 0;
  double readSeconds = 0;
  std::uint64_t storedBytes = 0;
};

void PrintFigure(const char* name, const Figure& figure, double megabytes, std::size_t size) {
  std::printf("%-22s write %8.1f MB/s   read %8.1f MB/s   size %6.3f of input\n", name,
              megabytes / figure.writeSeconds, megabytes / figure.readSeconds,
              static_cast<double>(figure.storedBytes) / static_cast<double>(size));
}

// The work folder, made current while the benchmark runs and removed with
// its files at the end.
struct WorkFolder {
  explicit WorkFolder(OS::Platform& os)
      : os(os),
        path(os.SystemTempFolder() + L"/bench_cfil_" + std::to_wstring(os.ProcessId())),
        previous(os.GetCurrentDirectory()) {
    created = os.CreateDirectory(path) && os.SetCurrentDirectory(path);
  }
  ~WorkFolder() {
    for (const wchar_t* name : {L"/data.cfil", L"/data.bin"}) os.DeleteFile(path + name);
    os.SetCurrentDirectory(previous);
    os.RemoveDirectory(path);
  }
  OS::Platform& os;
  std::wstring path;
  std::wstring previous;
  bool created = false;
};

int Fail(const char* what) {
  std::fprintf(stderr, "bench_cfil: %s failed\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  if (mebibytes == 0) mebibytes = 64;
  OS::Platform& os = OS::Current();
  WorkFolder folder(os);  // compressed writing puts its temporary file here
  if (!folder.created) return Fail("creating the work folder");
  std::wstring cfilPath = folder.path + L"/data.cfil";
  std::wstring plainPath = folder.path + L"/data.bin";

  Bytes data = MakeMixedData(mebibytes * kMiB);
  double megabytes = static_cast<double>(data.size()) / 1e6;
  Bytes back;
  bool ok = false;
  OS::FileInfo info;

  Figure cfil;
  cfil.writeSeconds = Seconds([&] { return WriteWithFile(cfilPath, Vek::FILE_OPEN_COMPRESSED, data); }, ok);
  if (!ok || !os.Stat(cfilPath, info)) return Fail("CFIL write");
  cfil.storedBytes = info.size;
  cfil.readSeconds = Seconds([&] { return ReadWithFile(cfilPath, Vek::FILE_OPEN_COMPRESSED, back); }, ok);
  if (!ok || back != data) return Fail("CFIL read");

  Figure plain;
  plain.writeSeconds = Seconds([&] { return WriteWithFile(plainPath, 0, data); }, ok);
  if (!ok || !os.Stat(plainPath, info)) return Fail("plain write");
  plain.storedBytes = info.size;
  plain.readSeconds = Seconds([&] { return ReadWithFile(plainPath, 0, back); }, ok);
  if (!ok || back != data) return Fail("plain read");

  Figure zlib;
  ZlibChunks chunks;
  zlib.writeSeconds = Seconds([&] { return ZlibCompress(data, chunks); }, ok);
  if (!ok) return Fail("zlib compress");
  zlib.storedBytes = chunks.total;
  back.assign(data.size(), 0);
  zlib.readSeconds = Seconds([&] { return ZlibUncompress(chunks, back); }, ok);
  if (!ok || back != data) return Fail("zlib uncompress");

  std::printf("%zu MiB of mixed data (text, records, sparse, noise), 16,384-byte chunks\n", mebibytes);
  PrintFigure("CFIL (Vek::File)", cfil, megabytes, data.size());
  PrintFigure("plain Vek::File", plain, megabytes, data.size());
  PrintFigure("zlib chunks (memory)", zlib, megabytes, data.size());
  std::printf("throughput CFIL / plain: write %.3f  read %.3f\n", plain.writeSeconds / cfil.writeSeconds,
              plain.readSeconds / cfil.readSeconds);
  std::printf("throughput CFIL / zlib:  write %.3f  read %.3f   size CFIL / zlib %.3f\n",
              zlib.writeSeconds / cfil.writeSeconds, zlib.readSeconds / cfil.readSeconds,
              static_cast<double>(cfil.storedBytes) / static_cast<double>(zlib.storedBytes));
  return 0;
}
