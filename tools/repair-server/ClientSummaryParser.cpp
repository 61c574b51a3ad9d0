#include "tools/repair-server/ClientSummaryParser.h"

#include <algorithm>

#include "repair/SummaryStreamFormat.h"
#include "repair/Utf16Name.h"

namespace KorvelRepairServer {
namespace {

// checksum (4) and modification time (8) after each name.
constexpr std::size_t kEntryTail = 12;

std::uint32_t Le32(const std::string& bytes, std::size_t at = 0) {
  return NolkUtil::LoadLe32(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
}

}  // namespace

std::size_t ClientSummaryParser::FieldLength() const {
  if (m_next == Field::NameAndTail) return std::size_t{m_nameUnits} * 2 + kEntryTail;
  return 4;
}

ClientSummaryParser::Status ClientSummaryParser::Feed(const void* data, std::size_t length) {
  const char* bytes = static_cast<const char*>(data);
  while (length > 0 && m_status == Status::NeedMore) {
    const std::size_t wanted = FieldLength() - m_field.size();
    const std::size_t taken = std::min(wanted, length);
    if (m_consumed + taken > kMaxSummaryBytes) {
      Refuse("summary larger than " + std::to_string(kMaxSummaryBytes) + " bytes");
      break;
    }
    m_field.append(bytes, taken);
    m_consumed += taken;
    bytes += taken;
    length -= taken;
    if (m_field.size() == FieldLength()) TakeField();
  }
  m_surplus += length;
  return m_status;
}

void ClientSummaryParser::TakeField() {
  const std::string field = std::move(m_field);
  m_field.clear();
  switch (m_next) {
    case Field::Magic:
      if (Le32(field) != NolkUtil::kSummaryMagic) return Refuse("not a summary stream");
      m_next = Field::Count;
      return;
    case Field::Count:
      m_entryCount = Le32(field);
      if (m_entryCount > kMaxClientEntries)
        return Refuse("too many entries (" + std::to_string(m_entryCount) + ")");
      m_next = Field::NameLength;
      break;
    case Field::NameLength:
      m_nameUnits = Le32(field);
      if (m_nameUnits > NolkUtil::kMaxNameUnits)
        return Refuse("name too long (" + std::to_string(m_nameUnits) + ")");
      m_next = Field::NameAndTail;
      return;
    case Field::NameAndTail: {
      const auto* raw = reinterpret_cast<const unsigned char*>(field.data());
      ClientEntry entry;
      entry.name = NolkUtil::DecodeUtf16Le(raw, m_nameUnits);
      entry.checksum = Le32(field, std::size_t{m_nameUnits} * 2);
      m_entries.push_back(std::move(entry));
      m_next = Field::NameLength;
      break;
    }
  }
  if (m_entries.size() == m_entryCount) m_status = Status::Complete;
}

void ClientSummaryParser::Refuse(std::string problem) {
  m_status = Status::Refused;
  m_problem = std::move(problem);
}

}  // namespace KorvelRepairServer
