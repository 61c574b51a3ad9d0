// Reads the summary a repair client sends (magic "0stf", entry count,
// entries of counted UTF-16LE name, checksum and modification time) as it
// arrives, piece by piece, so that a session never blocks a server thread
// while it waits for a slow or silent client.
//
// Nothing from the client is trusted: a name longer than kMaxNameUnits, an
// entry count above kMaxClientEntries or a summary of more than
// kMaxSummaryBytes is refused at once, before anything is allocated for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace KorvelRepairServer {

// 16 TiB of installation in 4 MiB segments.
inline constexpr std::uint32_t kMaxClientEntries = 1u << 22;
inline constexpr std::uint64_t kMaxSummaryBytes = std::uint64_t{512} << 20;

struct ClientEntry {
  std::wstring name;  // the name key as sent
  std::uint32_t checksum = 0;
};

class ClientSummaryParser {
 public:
  enum class Status { NeedMore, Complete, Refused };

  // Takes the next bytes of the stream. Bytes after the end of the summary
  // are not consumed and are counted in Surplus().
  Status Feed(const void* data, std::size_t length);
  Status GetStatus() const { return m_status; }
  // Why the summary was refused.
  const std::string& Problem() const { return m_problem; }
  std::uint64_t BytesConsumed() const { return m_consumed; }
  std::size_t Surplus() const { return m_surplus; }
  // The entries read so far, in the order sent.
  const std::vector<ClientEntry>& Entries() const { return m_entries; }
  std::vector<ClientEntry> TakeEntries() { return std::move(m_entries); }

 private:
  enum class Field { Magic, Count, NameLength, NameAndTail };

  // Bytes the current field needs.
  std::size_t FieldLength() const;
  // Handles a complete field held in m_field.
  void TakeField();
  void Refuse(std::string problem);

  Status m_status = Status::NeedMore;
  Field m_next = Field::Magic;
  std::string m_field;
  std::uint32_t m_entryCount = 0;
  std::uint32_t m_nameUnits = 0;
  std::uint64_t m_consumed = 0;
  std::size_t m_surplus = 0;
  std::string m_problem;
  std::vector<ClientEntry> m_entries;
};

}  // namespace KorvelRepairServer
