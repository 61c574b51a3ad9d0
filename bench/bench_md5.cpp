// MD5 throughput: our digest beside OpenSSL's on the same 256 MiB buffer in
// the same run. Prints MB/s of both (best of three runs each) and the ratio
// ours / OpenSSL.
#include <openssl/evp.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "KernelStandard/Md5.h"

namespace {

constexpr std::size_t kBufferSize = std::size_t{256} << 20;
constexpr int kRuns = 3;

std::vector<std::uint8_t> MakeInput() {
  std::vector<std::uint8_t> data(kBufferSize);
  std::uint64_t state = 0x9E3779B97F4A7C15ull;
  for (auto& byte : data) {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    byte = static_cast<std::uint8_t>(state);
  }
  return data;
}

std::string OursHex(const std::vector<std::uint8_t>& data) {
  return NolkUtil::Md5Hex(data.data(), data.size());
}

std::string OpenSslHex(const std::vector<std::uint8_t>& data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_md5(), nullptr) != 1) return {};
  std::string hex;
  char pair[3];
  for (unsigned int i = 0; i < length; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

// Best throughput of kRuns runs, in MB/s (10^6 bytes per second).
template <typename Digest>
double BestMegabytesPerSecond(const std::vector<std::uint8_t>& data, Digest digest, std::string& hex) {
  double best = 0;
  for (int run = 0; run < kRuns; ++run) {
    const auto start = std::chrono::steady_clock::now();
    hex = digest(data);
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    best = std::max(best, static_cast<double>(data.size()) / seconds.count() / 1e6);
  }
  return best;
}

}  // namespace

int main() {
  const std::vector<std::uint8_t> data = MakeInput();
  std::string ours;
  std::string reference;
  const double oursRate = BestMegabytesPerSecond(data, OursHex, ours);
  const double referenceRate = BestMegabytesPerSecond(data, OpenSslHex, reference);
  if (ours != reference) {
    std::printf("digest mismatch: ours %s, OpenSSL %s\n", ours.c_str(), reference.c_str());
    return 1;
  }
  std::printf("MD5 of %zu MiB (best of %d runs)\n", kBufferSize >> 20, kRuns);
  std::printf("  ours     %8.1f MB/s\n", oursRate);
  std::printf("  OpenSSL  %8.1f MB/s\n", referenceRate);
  std::printf("  ratio ours/OpenSSL  %.3f\n", oursRate / referenceRate);
  return 0;
}
