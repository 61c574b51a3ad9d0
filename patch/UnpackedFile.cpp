#include "patch/UnpackedFile.h"

#include "KernelStandard/TextConvert.h"
#include "KernelStandard/platform/Platform.h"
#include "patch/PatchEngineCallbacks.h"

namespace NolkPatch {

UnpackedFile::UnpackedFile(const std::wstring& path)
    : m_descriptor(OS::Current().OpenDescriptor(NolkUtil::ToWide(NolkUtil::ToNarrow(path)),
                                                OS::OpenMode::CreateTruncate)) {}

UnpackedFile::~UnpackedFile() {
  if (IsOpen()) OS::Current().CloseDescriptor(m_descriptor);
}

NolkResult UnpackedFile::SetSize(std::uint64_t length) {
  (void)length;
  return IsOpen() ? NOLKRESULT_NOT_SUPPORTED : NOLKRESULT_NOT_OPEN;
}

NolkResult UnpackedFile::SetPosition(std::uint64_t position) {
  if (!IsOpen()) return NOLKRESULT_NOT_OPEN;
  return position == m_position ? NOLKRESULT_OK : NOLKRESULT_NOT_SUPPORTED;
}

NolkResult UnpackedFile::WriteData(const void* data, std::uint32_t length) {
  if (!IsOpen()) return NOLKRESULT_NOT_OPEN;
  if (length == 0) return NOLKRESULT_OK;
  if (data == nullptr) return NOLKRESULT_BAD_ARGUMENT;
  // After a Cancel the next block is refused, so a large file does not hold
  // up the end of the run.
  if (EngineCancelRequested()) return NOLKRESULT_CLOSED;
  const long written = OS::Current().WriteDescriptor(m_descriptor, data, length);
  if (written > 0) m_position += static_cast<std::uint64_t>(written);
  return written == static_cast<long>(length) ? NOLKRESULT_OK : NOLKRESULT_FILE_ERROR;
}

NolkResult UnpackedFile::ReadData(void* data, std::uint32_t length) {
  (void)data;
  (void)length;
  return IsOpen() ? NOLKRESULT_NOT_ALLOWED : NOLKRESULT_NOT_OPEN;
}

}  // namespace NolkPatch
