// Signed updates: SHA-256 throughput of the archive check beside sha256sum
// on the same 1 GiB file (both read it from the page cache: a first pass
// warms it), and the time to verify a list signature beside the time to
// make one. Prints MB/s of both digests and their ratio, and microseconds
// per list verification.
//
// The file goes to $KORVEL_BENCH_DIR, else the system temporary folder,
// and is removed at the end.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "patch/signing/Ed25519.h"
#include "patch/signing/Hex.h"
#include "patch/signing/ListSignature.h"
#include "patch/signing/Sha256.h"

namespace {

constexpr std::uint64_t kFileSize = std::uint64_t{1} << 30;
constexpr int kRuns = 3;

std::string BenchFolder() {
  std::string folder;
  if (OS::Current().GetEnvironment("KORVEL_BENCH_DIR", folder) && !folder.empty()) return folder;
  return OS::ToUtf8(OS::Current().SystemTempFolder());
}

bool WriteInput(const std::wstring& path) {
  OS::Platform& os = OS::Current();
  std::FILE* stream = os.OpenStream(path, OS::OpenMode::CreateTruncate);
  if (stream == nullptr) return false;
  std::vector<std::uint64_t> block(1 << 17);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  bool ok = true;
  for (std::uint64_t written = 0; ok && written < kFileSize; written += block.size() * 8) {
    for (auto& word : block) {
      state ^= state << 13, state ^= state >> 7, state ^= state << 17;
      word = state;
    }
    ok = os.WriteStream(stream, block.data(), block.size() * 8) == block.size() * 8;
  }
  ok = os.FlushStream(stream, false) && ok;
  os.CloseStream(stream);
  return ok;
}

// sha256sum's digest of the file (its first 64 characters of output).
bool ReferenceDigest(const std::string& path, std::string& hex) {
  OS::Platform& os = OS::Current();
  OS::SpawnedProcess child;
  if (!os.SpawnWithPipe({"sha256sum", path}, child)) return false;
  std::string output;
  char buffer[4096];
  for (long got; (got = os.ReadPipe(child.outputFd, buffer, sizeof buffer)) > 0;) output.append(buffer, got);
  os.ClosePipe(child.outputFd);
  int exitCode = -1;
  if (!os.WaitProcess(child.pid, -1, exitCode) || exitCode != 0 || output.size() < 64) return false;
  hex = output.substr(0, 64);
  return true;
}

template <typename Digest>
double BestRate(Digest digest, std::string& hex) {
  double best = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    if (!digest(hex)) return 0;
    best = std::max(best, static_cast<double>(kFileSize) / BenchSupport::SecondsSince(start) / 1e6);
  }
  return best;
}

void ListSignatureTimes() {
  NolkSign::KeyPair pair;
  NolkSign::Seed seed{};
  NolkSign::GenerateKeyPair(pair, seed);
  // A list of 200 records, about 40 KB: a long-lived game's whole history.
  std::string list = "list-expires: 2099-01-01T00:00:00Z\n\n";
  for (int i = 0; i < 200; ++i)
    list += "source-version: " + std::to_string(i) + "\ntarget-version: " + std::to_string(i + 1) +
            "\npatch-exe-url: http://example.invalid/p.exe\npatch-data-url: " + std::to_string(i) + "_to_" +
            std::to_string(i + 1) + ".zip\npatch-data-sha256: " + std::string(64, 'a') + "\n\n";
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(list.data()), list.size());
  constexpr int kRounds = 2000;
  auto start = std::chrono::steady_clock::now();
  NolkSign::Signature signature{};
  for (int i = 0; i < kRounds; ++i) signature = NolkSign::SignDetached(bytes, pair);
  const double signSeconds = BenchSupport::SecondsSince(start);
  const std::string text = NolkSign::ListSignatureText(signature);
  const NolkSign::PublisherKeySet keys{{pair.publicKey}};
  int good = 0;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRounds; ++i) good += NolkSign::VerifyListSignature(list, text, keys).trusted ? 1 : 0;
  const double verifySeconds = BenchSupport::SecondsSince(start);
  std::printf("List signature, %zu-byte list (%d rounds, %d verified)\n", list.size(), kRounds, good);
  std::printf("  sign    %8.1f us\n", signSeconds / kRounds * 1e6);
  std::printf("  verify  %8.1f us\n", verifySeconds / kRounds * 1e6);
}

}  // namespace

int main() {
  const std::string path = BenchFolder() + "/korvel-bench-sha256.bin";
  const std::wstring widePath = OS::FromUtf8(path);
  if (!WriteInput(widePath)) {
    std::printf("cannot write %s\n", path.c_str());
    return 1;
  }
  std::string ours, reference;
  NolkSign::Sha256Digest digest{};
  NolkSign::Sha256OfFile(widePath, digest);  // warms the page cache
  const double oursRate = BestRate(
      [&](std::string& hex) {
        if (!NolkSign::Sha256OfFile(widePath, digest)) return false;
        hex = NolkSign::ToHex(digest);
        return true;
      },
      ours);
  const double referenceRate =
      BestRate([&](std::string& hex) { return ReferenceDigest(path, hex); }, reference);
  OS::Current().DeleteFile(widePath);
  if (ours.empty() || ours != reference) {
    std::printf("digest mismatch: ours %s, sha256sum %s\n", ours.c_str(), reference.c_str());
    return 1;
  }
  std::printf("SHA-256 of a 1 GiB file (best of %d runs, page cache warm)\n", kRuns);
  std::printf("  ours (libcrypto) %8.1f MB/s\n", oursRate);
  std::printf("  sha256sum         %8.1f MB/s\n", referenceRate);
  std::printf("  ratio ours/sha256sum  %.3f\n", oursRate / referenceRate);
  ListSignatureTimes();
  return 0;
}
