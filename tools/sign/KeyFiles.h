// The publisher's key files.
//
// Secret key file (made by korvel-sign keygen, readable by its owner
// alone, never overwritten): two lines,
//   korvel-sign secret key 1
//   <the 32-byte Ed25519 seed as 64 hexadecimal digits>
// Public key file: one line of 64 hexadecimal digits, the value the patcher
// is built with (-DKORVEL_PUBLISHER_KEYS=...).
//
// The secret key is only ever read from a file the publisher names; no
// program takes it on its command line, where other users could read it.
#pragma once

#include <string>

#include "patch/signing/Ed25519.h"

namespace KorvelTools {

// Makes a new key pair and writes both files; refuses to replace an
// existing file.
bool WriteNewKeyFiles(const std::wstring& secretPath, const std::wstring& publicPath, std::string& publicHex,
                      std::string& problem);
bool ReadSecretKeyFile(const std::wstring& path, NolkSign::KeyPair& pair, std::string& problem);
bool ReadPublicKeyFile(const std::wstring& path, NolkSign::PublicKey& key, std::string& problem);

// A small file's bytes (at most `largest`); false when it cannot be read.
bool ReadSmallFile(const std::wstring& path, std::size_t largest, std::string& bytes);

}  // namespace KorvelTools
