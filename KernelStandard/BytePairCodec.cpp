#include "KernelStandard/BytePairCodec.h"

#include <array>
#include <memory>

namespace Vek {
namespace {

constexpr int kCodeCount = 256;
constexpr int kMaxTableRun = 128;  // codes one count byte can cover
// Pending right halves during expansion. A table written by the encoder
// nests at most one level per pair code, so 256 levels are the real limit;
// anything deeper comes from a hostile table (for example a cycle).
constexpr std::size_t kMaxExpansionDepth = 512;
// One replacement adds pairs (x, code) and (code, y) only: at most 512 new
// distinct pairs, which must always fit beside the working limit.
static_assert(kBytePairMaxWorkingPairs + 2 * kCodeCount < kBytePairHashSize);
static_assert(kBytePairMaxReadPairs <= kBytePairMaxWorkingPairs);
static_assert(kBytePairBlockSize <= 0xFFFF);

// --- Encoder ---------------------------------------------------------------

struct PairSlot {
  std::uint8_t left = 0;
  std::uint8_t right = 0;
  std::uint16_t count = 0;
  bool occupied = false;
  bool rejected = false;  // occurs often only by overlapping itself
};

// Counts of adjacent byte pairs in an open-addressed table of 4096 slots.
// Slots whose count drops to zero stay occupied until Rebuild.
class PairCounter {
 public:
  void Clear() {
    m_slots.fill(PairSlot{});
    m_occupied = 0;
  }

  bool Contains(std::uint8_t left, std::uint8_t right) const { return m_slots[Probe(left, right)].occupied; }

  void Increment(std::uint8_t left, std::uint8_t right) {
    PairSlot& slot = m_slots[Probe(left, right)];
    if (!slot.occupied) {
      slot = PairSlot{left, right, 0, true, false};
      ++m_occupied;
    }
    ++slot.count;
  }

  // Only called for pairs that are present, so the count never underflows.
  void Decrement(std::uint8_t left, std::uint8_t right) {
    PairSlot& slot = m_slots[Probe(left, right)];
    if (slot.occupied && slot.count > 0) --slot.count;
  }

  std::size_t Occupied() const { return m_occupied; }

  PairSlot* MostFrequent() {
    PairSlot* best = nullptr;
    for (PairSlot& slot : m_slots) {
      if (slot.occupied && !slot.rejected && (!best || slot.count > best->count)) best = &slot;
    }
    return best;
  }

  // Recounts from the data, dropping pairs that no longer occur.
  void Rebuild(const std::vector<std::uint8_t>& data) {
    Clear();
    for (std::size_t i = 1; i < data.size(); ++i) Increment(data[i - 1], data[i]);
  }

 private:
  // The limits keep the table from filling, so an empty slot always ends
  // the probe.
  std::size_t Probe(std::uint8_t left, std::uint8_t right) const {
    std::uint32_t key = (static_cast<std::uint32_t>(left) << 8) | right;
    std::size_t index = ((key + 1) * 2654435761u) >> 20;
    while (m_slots[index].occupied && (m_slots[index].left != left || m_slots[index].right != right)) {
      index = (index + 1) & (kBytePairHashSize - 1);
    }
    return index;
  }

  std::array<PairSlot, kBytePairHashSize> m_slots{};
  std::size_t m_occupied = 0;
};

class BlockEncoder {
 public:
  // Takes the next block from the input; returns the bytes taken (at least
  // one when n > 0).
  std::size_t Load(const std::uint8_t* in, std::size_t n) {
    Reset();
    int literals = 0;
    for (std::size_t i = 0; i < n && m_data.size() < kBytePairBlockSize; ++i) {
      std::uint8_t byte = in[i];
      bool newLiteral = !m_codeUsed[byte];
      if (newLiteral && literals == kBytePairMaxLiterals) break;
      if (!m_data.empty() && !m_pairs.Contains(m_data.back(), byte) &&
          m_pairs.Occupied() >= kBytePairMaxReadPairs) {
        break;
      }
      if (newLiteral) {
        m_codeUsed[byte] = true;
        ++literals;
      }
      if (!m_data.empty()) m_pairs.Increment(m_data.back(), byte);
      m_data.push_back(byte);
    }
    return m_data.size();
  }

  void Compress() {
    while (true) {
      if (m_pairs.Occupied() > kBytePairMaxWorkingPairs) {
        m_pairs.Rebuild(m_data);
        if (m_pairs.Occupied() > kBytePairMaxWorkingPairs) return;
      }
      PairSlot* best = m_pairs.MostFrequent();
      if (!best || best->count < kBytePairMinOccurrences) return;
      int code = FreeCode();
      if (code < 0) return;
      std::uint8_t left = best->left;
      std::uint8_t right = best->right;
      // Only a pair of two equal bytes can overlap itself, so only then can
      // its count exceed the replacements a scan would make.
      if (left == right && CountOccurrences(left, right) < kBytePairMinOccurrences) {
        best->rejected = true;
        continue;
      }
      ReplacePair(left, right, static_cast<std::uint8_t>(code));
    }
  }

  void Emit(std::vector<std::uint8_t>& out) const {
    EmitTable(out);
    out.push_back(static_cast<std::uint8_t>(m_data.size() >> 8));
    out.push_back(static_cast<std::uint8_t>(m_data.size() & 0xFF));
    out.insert(out.end(), m_data.begin(), m_data.end());
  }

 private:
  void Reset() {
    m_data.clear();
    m_pairs.Clear();
    m_codeUsed.fill(false);
    for (int c = 0; c < kCodeCount; ++c) {
      m_left[c] = static_cast<std::uint8_t>(c);
      m_right[c] = 0;
    }
  }

  int FreeCode() const {
    for (int c = kCodeCount - 1; c >= 0; --c) {
      if (!m_codeUsed[c]) return c;
    }
    return -1;
  }

  // Occurrences as a left-to-right replacement would find them ("aaaa"
  // holds the pair "aa" three times but can replace it only twice).
  int CountOccurrences(std::uint8_t left, std::uint8_t right) const {
    int found = 0;
    for (std::size_t i = 0; i + 1 < m_data.size();) {
      if (m_data[i] == left && m_data[i + 1] == right) {
        ++found;
        i += 2;
      } else {
        ++i;
      }
    }
    return found;
  }

  // Replaces every occurrence of the pair by the code in place, keeping the
  // pair counts exact: around an occurrence p,a,b,n the pairs (p,a), (a,b)
  // and (b,n) disappear and (p,code), (code,n) appear. p is taken from the
  // already rewritten part, so neighbouring occurrences are counted right.
  void ReplacePair(std::uint8_t left, std::uint8_t right, std::uint8_t code) {
    m_left[code] = left;
    m_right[code] = right;
    m_codeUsed[code] = true;
    std::size_t n = m_data.size();
    std::size_t write = 0;
    std::size_t read = 0;
    while (read < n) {
      if (read + 1 < n && m_data[read] == left && m_data[read + 1] == right) {
        if (write > 0) {
          m_pairs.Decrement(m_data[write - 1], left);
          m_pairs.Increment(m_data[write - 1], code);
        }
        if (read + 2 < n) {
          m_pairs.Decrement(right, m_data[read + 2]);
          m_pairs.Increment(code, m_data[read + 2]);
        }
        m_pairs.Decrement(left, right);
        m_data[write++] = code;
        read += 2;
      } else {
        m_data[write++] = m_data[read++];
      }
    }
    m_data.resize(write);
  }

  bool IsLiteral(int code) const { return m_left[code] == code; }

  int LiteralRun(int code, int limit) const {
    int run = 0;
    while (code + run < kCodeCount && run < limit && IsLiteral(code + run)) ++run;
    return run;
  }

  void EmitEntry(int code, std::vector<std::uint8_t>& out) const {
    out.push_back(m_left[code]);
    if (!IsLiteral(code)) out.push_back(m_right[code]);
  }

  // Runs of literals become skip bytes (each followed by one entry without
  // a count); pair codes go out in counted groups, which keep short literal
  // runs inside them because a skip would cost as much.
  void EmitTable(std::vector<std::uint8_t>& out) const {
    int code = 0;
    while (code < kCodeCount) {
      if (IsLiteral(code)) {
        int run = LiteralRun(code, kMaxTableRun);
        out.push_back(static_cast<std::uint8_t>(127 + run));
        code += run;
        if (code == kCodeCount) break;
        EmitEntry(code++, out);
        continue;
      }
      int start = code;
      while (code < kCodeCount && code - start < kMaxTableRun &&
             !(IsLiteral(code) && LiteralRun(code, 3) == 3)) {
        ++code;
      }
      out.push_back(static_cast<std::uint8_t>(code - start - 1));
      for (int entry = start; entry < code; ++entry) EmitEntry(entry, out);
    }
  }

  std::vector<std::uint8_t> m_data;
  std::array<std::uint8_t, kCodeCount> m_left{};
  std::array<std::uint8_t, kCodeCount> m_right{};
  std::array<bool, kCodeCount> m_codeUsed{};
  PairCounter m_pairs;
};

// --- Decoder ---------------------------------------------------------------

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

  bool AtEnd() const { return m_position >= m_size; }
  std::size_t Remaining() const { return m_size - m_position; }
  const std::uint8_t* Current() const { return m_data + m_position; }

  bool Byte(std::uint8_t& value) {
    if (AtEnd()) return false;
    value = m_data[m_position++];
    return true;
  }

  bool BigEndian16(std::size_t& value) {
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    if (!Byte(high) || !Byte(low)) return false;
    value = (static_cast<std::size_t>(high) << 8) | low;
    return true;
  }

  bool Skip(std::size_t count) {
    if (count > Remaining()) return false;
    m_position += count;
    return true;
  }

 private:
  const std::uint8_t* m_data;
  std::size_t m_size;
  std::size_t m_position = 0;
};

struct PairTable {
  std::array<std::uint8_t, kCodeCount> left{};
  std::array<std::uint8_t, kCodeCount> right{};
};

bool ReadTableEntries(ByteReader& reader, PairTable& table, std::size_t& code, std::size_t entries) {
  if (code + entries > kCodeCount) return false;
  for (std::size_t i = 0; i < entries; ++i, ++code) {
    if (!reader.Byte(table.left[code])) return false;
    if (table.left[code] != code && !reader.Byte(table.right[code])) return false;
  }
  return true;
}

bool ReadPairTable(ByteReader& reader, PairTable& table) {
  for (int c = 0; c < kCodeCount; ++c) {
    table.left[c] = static_cast<std::uint8_t>(c);
    table.right[c] = 0;
  }
  std::size_t code = 0;
  while (code < kCodeCount) {
    std::uint8_t count = 0;
    if (!reader.Byte(count)) return false;
    std::size_t entries = static_cast<std::size_t>(count) + 1;
    if (count > 127) {
      code += count - 127;
      entries = 1;
    }
    if (code > kCodeCount) return false;
    if (code == kCodeCount) break;
    if (!ReadTableEntries(reader, table, code, entries)) return false;
  }
  return true;
}

bool ExpandData(const std::uint8_t* data, std::size_t length, const PairTable& table, std::uint8_t* out,
                std::size_t expected, std::size_t& produced) {
  std::array<std::uint8_t, kMaxExpansionDepth> stack;
  for (std::size_t i = 0; i < length; ++i) {
    if (table.left[data[i]] == data[i]) {  // most codes are literals
      if (produced == expected) return false;
      out[produced++] = data[i];
      continue;
    }
    std::size_t top = 0;
    stack[top++] = data[i];
    while (top > 0) {
      std::uint8_t code = stack[--top];
      if (table.left[code] == code) {
        if (produced == expected) return false;
        out[produced++] = code;
        continue;
      }
      if (top + 2 > stack.size()) return false;
      stack[top++] = table.right[code];
      stack[top++] = table.left[code];
    }
  }
  return true;
}

}  // namespace

void BytePairEncode(const std::uint8_t* in, std::size_t n, std::vector<std::uint8_t>& out) {
  auto encoder = std::make_unique<BlockEncoder>();
  std::size_t position = 0;
  while (position < n) {
    position += encoder->Load(in + position, n - position);
    encoder->Compress();
    encoder->Emit(out);
  }
}

bool BytePairDecode(const std::uint8_t* in, std::size_t n, std::uint8_t* out, std::size_t expected,
                    std::size_t& produced) {
  produced = 0;
  if (n > 0 && !in) return false;
  ByteReader reader(in, n);
  PairTable table;
  while (!reader.AtEnd()) {
    std::size_t length = 0;
    if (!ReadPairTable(reader, table) || !reader.BigEndian16(length)) return false;
    if (length > reader.Remaining()) return false;
    if (!ExpandData(reader.Current(), length, table, out, expected, produced)) return false;
    reader.Skip(length);
  }
  return produced == expected;
}

}  // namespace Vek
