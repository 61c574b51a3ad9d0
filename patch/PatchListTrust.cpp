// The signature and expiry checks of a fetched "patches.txt" (for a
// patcher built with publisher keys).
#include "KernelStandard/PathUtil.h"
#include "KernelStandard/TextConvert.h"
#include "net/InternetClient.h"
#include "patch/PatchList.h"
#include "patch/PatchSettings.h"
#include "patch/signing/ListSignature.h"
#include "stream/NolkDataBufferMemory.h"

namespace NolkPatch {
namespace {

constexpr int kLevelWarning = 1;

// A signature file is 129 bytes; anything much larger is not one.
constexpr std::size_t kLargestSignatureFile = 4096;

void ReportRefused(const std::wstring& listUrl, const std::string& why) {
  LogSinkReport(kLevelWarning, L"Patch list refused: " + listUrl + L": " + NolkUtil::ToWide(why));
}

}  // namespace

bool OnlinePatchList::TrustList(const std::wstring& server, const std::string& list) {
  const std::wstring listUrl = NolkUtil::JoinPath(server, L"patches.txt");
  const std::wstring signatureUrl =
      NolkUtil::JoinPath(server, NolkUtil::ToWide(NolkSign::kListSignatureName));
  NolkDataBufferMemoryDynamic signature;
  if (NolkUtil::DownloadURL(NolkUtil::ToNarrow(signatureUrl), signature, NolkUtil::kDownloadBypassCache,
                            nullptr) != NOLKRESULT_OK) {
    ReportRefused(listUrl, "it is not signed (no " + std::string(NolkSign::kListSignatureName) +
                               " could be downloaded from the server)");
    return false;
  }
  if (signature.Bytes().size() > kLargestSignatureFile) {
    ReportRefused(listUrl, "its signature file is not 128 hexadecimal digits");
    return false;
  }
  const std::string signatureText(signature.Bytes().begin(), signature.Bytes().end());
  NolkSign::Verdict verdict = NolkSign::VerifyListSignature(list, signatureText, m_keys);
  if (verdict.trusted)
    verdict = NolkSign::CheckListExpiry(PatchListValues(list, NolkSign::kListExpiryKey),
                                        NolkSign::CurrentUtcTime());
  if (!verdict.trusted) ReportRefused(listUrl, verdict.reason);
  return verdict.trusted;
}

}  // namespace NolkPatch
