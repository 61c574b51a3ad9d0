// The command line of korvel-sign; main() only hands its arguments over,
// so tests can run it in-process.
//
//   korvel-sign keygen --secret-key FILE --public-key FILE
//   korvel-sign sign-list --secret-key FILE --list patches.txt [--out patches.txt.sig]
//   korvel-sign sign-package --secret-key FILE --package STANDALONE
//   korvel-sign verify --public-key FILE [--public-key FILE]
//                      (--list patches.txt [--signature patches.txt.sig] | --package STANDALONE)
//   korvel-sign sha256 ARCHIVE        prints "patch-data-sha256: <hex>"
//
// sign-list refuses a list the patcher would refuse once signed: one
// without a valid, future "list-expires" time, or with a patch record that
// names no valid "patch-data-sha256". The signature goes to --out, by
// default the list's path with ".sig" appended. sign-package signs a
// standalone patch in place; it must have been made with the signature
// room (korvel-package --signature-room), or korvel-package --sign-with
// signs while packaging.
//
// Exit codes: 0 done (verify: the signature is good), 1 a file could not be
// read or written, 2 refused (wrong command line, input that must not be
// signed, or verify found the signature bad or missing).
#pragma once

#include <string>
#include <vector>

namespace KorvelTools {

int RunSign(const std::vector<std::string>& arguments);

}  // namespace KorvelTools
