#include "tools/sign/KeyFiles.h"

#include "KernelStandard/platform/Platform.h"
#include "patch/signing/Hex.h"

namespace KorvelTools {
namespace {

constexpr char kSecretKeyHeading[] = "korvel-sign secret key 1";

std::string Printable(const std::wstring& path) {
  return OS::ToUtf8(path);
}

bool WriteNewFile(const std::wstring& path, const std::string& text, std::string& problem) {
  OS::Platform& os = OS::Current();
  std::FILE* stream = os.OpenStream(path, OS::OpenMode::CreateExclusive);
  if (stream == nullptr) {
    problem = os.Exists(path) ? Printable(path) + " exists already; key files are never replaced"
                              : "cannot create " + Printable(path);
    return false;
  }
  const bool written =
      os.WriteStream(stream, text.data(), text.size()) == text.size() && os.FlushStream(stream, true);
  os.CloseStream(stream);
  if (!written) {
    os.DeleteFile(path);
    problem = "cannot write " + Printable(path);
  }
  return written;
}

}  // namespace

bool ReadSmallFile(const std::wstring& path, std::size_t largest, std::string& bytes) {
  OS::Platform& os = OS::Current();
  std::FILE* stream = os.OpenStream(path, OS::OpenMode::Read);
  if (stream == nullptr) return false;
  std::uint64_t length = 0;
  bool ok = os.StreamLength(stream, length) && length <= largest;
  if (ok) {
    bytes.assign(static_cast<std::size_t>(length), '\0');
    ok = os.ReadStream(stream, bytes.data(), bytes.size()) == bytes.size();
  }
  os.CloseStream(stream);
  return ok;
}

bool WriteNewKeyFiles(const std::wstring& secretPath, const std::wstring& publicPath, std::string& publicHex,
                      std::string& problem) {
  OS::Platform& os = OS::Current();
  if (os.Exists(secretPath) || os.Exists(publicPath)) {
    problem = Printable(os.Exists(secretPath) ? secretPath : publicPath) +
              " exists already; key files are never replaced";
    return false;
  }
  NolkSign::Seed seed{};
  NolkSign::KeyPair pair;
  if (!NolkSign::GenerateKeyPair(pair, seed)) {
    problem = "cannot make a key pair (libsodium is not usable)";
    return false;
  }
  std::string secretText = std::string(kSecretKeyHeading) + "\n" + NolkSign::ToHex(seed) + "\n";
  NolkSign::WipeSecret(seed.data(), seed.size());
  const bool secretWritten = WriteNewFile(secretPath, secretText, problem);
  NolkSign::WipeSecret(secretText.data(), secretText.size());
  if (!secretWritten) return false;
  publicHex = NolkSign::ToHex(pair.publicKey);
  if (!WriteNewFile(publicPath, publicHex + "\n", problem)) return false;
  // The public key is meant to be shared.
  os.SetPermissions(publicPath, 0644);
  return true;
}

bool ReadSecretKeyFile(const std::wstring& path, NolkSign::KeyPair& pair, std::string& problem) {
  std::string text;
  if (!ReadSmallFile(path, 4096, text)) {
    problem = "cannot read the secret key file " + Printable(path);
    return false;
  }
  const std::size_t end = text.find('\n');
  NolkSign::Seed seed{};
  const bool parsed = end != std::string::npos &&
                      NolkSign::TrimmedText(std::string_view(text).substr(0, end)) == kSecretKeyHeading &&
                      NolkSign::FromHex(NolkSign::TrimmedText(std::string_view(text).substr(end + 1)), seed);
  NolkSign::WipeSecret(text.data(), text.size());
  const bool ok = parsed && NolkSign::KeyPairFromSeed(seed, pair);
  NolkSign::WipeSecret(seed.data(), seed.size());
  if (!ok) problem = Printable(path) + " is not a korvel-sign secret key file";
  return ok;
}

bool ReadPublicKeyFile(const std::wstring& path, NolkSign::PublicKey& key, std::string& problem) {
  std::string text;
  if (!ReadSmallFile(path, 4096, text)) {
    problem = "cannot read the public key file " + Printable(path);
    return false;
  }
  if (NolkSign::ParsePublicKeyText(text, key)) return true;
  problem = Printable(path) + " is not a public key file (64 hexadecimal digits)";
  return false;
}

}  // namespace KorvelTools
