// Sample contents for the codec and compressed-file tests: incompressible
// noise, and text-like data with the repetition real files have.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace korvel_test {

inline std::vector<std::uint8_t> RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes(size);
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(generator() >> 24);
  return bytes;
}

// Words from a small vocabulary with numbers between them, like a log or a
// configuration file.
inline std::vector<std::uint8_t> TextLikeBytes(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"texture", "mesh", "Ombrix", "install", "patch", "version",
                                       "=",       "\r\n", "data/",  ".bin",    "level", "sound"};
  std::mt19937 generator(seed);
  std::vector<std::uint8_t> bytes;
  bytes.reserve(size + 16);
  while (bytes.size() < size) {
    std::string piece = kWords[generator() % std::size(kWords)];
    if (generator() % 4 == 0) piece += std::to_string(generator() % 1000);
    piece += ' ';
    bytes.insert(bytes.end(), piece.begin(), piece.end());
  }
  bytes.resize(size);
  return bytes;
}

}  // namespace korvel_test
