#include "ftp/remote/ftp_file.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <utility>

namespace pellan {

bool IsSafeLocalFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

const FileColumns& CFtpFile::Columns() const {
  static const FileColumns none;
  return m_columns ? *m_columns : none;
}

void CFtpFile::Change(std::string FileColumns::*column, std::string v) {
  auto own = m_columns ? std::make_shared<FileColumns>(*m_columns) : std::make_shared<FileColumns>();
  (*own).*column = std::move(v);
  m_columns = std::move(own);
}

void CFtpFile::SetLastWriteTime(std::string_view v) {
  SetLastWriteTime(ParseListDateText(v).value_or(kZeroDate));
}

CFtpFiles::CFtpFiles(CFtpFiles&& other) noexcept
    : m_entries(std::exchange(other.m_entries, {})),
      m_slots(std::exchange(other.m_slots, {})),
      m_blocks(std::exchange(other.m_blocks, {})),
      m_blockSize(std::exchange(other.m_blockSize, 0)),
      m_blockUsed(std::exchange(other.m_blockUsed, 0)) {}

CFtpFiles& CFtpFiles::operator=(CFtpFiles&& other) noexcept {
  if (this != &other) {
    DestroyNodes();
    m_entries = std::exchange(other.m_entries, {});
    m_slots = std::exchange(other.m_slots, {});
    m_blocks = std::exchange(other.m_blocks, {});
    m_blockSize = std::exchange(other.m_blockSize, 0);
    m_blockUsed = std::exchange(other.m_blockUsed, 0);
  }
  return *this;
}

CFtpFiles::~CFtpFiles() { DestroyNodes(); }

void CFtpFiles::DestroyNodes() {
  for (Node* node : m_entries) node->~Node();
  m_entries.clear();
}

void* CFtpFiles::Allocate(size_t size, size_t alignment) {
  size_t at = (m_blockUsed + alignment - 1) & ~(alignment - 1);
  if (m_blocks.empty() || at + size > m_blockSize) {
    // Blocks grow with the collection, from one page to 256 KiB.
    constexpr size_t kFirst = 4096, kLargest = 256 * 1024;
    const size_t next = m_blocks.empty() ? kFirst : std::min(m_blockSize * 2, kLargest);
    const size_t blockSize = std::max(next, size + alignment);
    m_blocks.push_back(std::make_unique_for_overwrite<std::byte[]>(blockSize));
    m_blockSize = blockSize;
    at = 0;
  }
  m_blockUsed = at + size;
  return m_blocks.back().get() + at;
}

bool CFtpFiles::SlotsFor(size_t count) const { return count * 4 <= m_slots.size() * 3; }

void CFtpFiles::Reserve(size_t count) {
  m_entries.reserve(count);
  if (!SlotsFor(count)) Rehash(count);
}

size_t CFtpFiles::Find(std::string_view key, size_t hash) const {
  const size_t mask = m_slots.size() - 1;
  for (size_t i = hash & mask;; i = (i + 1) & mask) {
    const Node* n = m_slots[i];
    if (!n || (n->hash == hash && n->Key() == key)) return i;
  }
}

void CFtpFiles::Rehash(size_t count) {
  const size_t size = std::bit_ceil(std::max<size_t>(16, count * 4 / 3 + 1));
  m_slots.assign(size, nullptr);
  for (Node* node : m_entries) m_slots[Find(node->Key(), node->hash)] = node;
}

void CFtpFiles::EraseSlot(size_t slot) {
  // Entries after the hole that could sit in it move back, so that every
  // entry stays reachable from its home slot without a gap in between.
  const size_t mask = m_slots.size() - 1;
  size_t hole = slot;
  for (size_t i = (hole + 1) & mask; m_slots[i]; i = (i + 1) & mask) {
    const size_t home = m_slots[i]->hash & mask;
    // It stays when its home lies cyclically in (hole, i].
    const bool stays = hole <= i ? (hole < home && home <= i) : (hole < home || home <= i);
    if (stays) continue;
    m_slots[hole] = m_slots[i];
    hole = i;
  }
  m_slots[hole] = nullptr;
}

CFtpFile* CFtpFiles::Add(CFtpFile file, std::string_view key) {
  if (!SlotsFor(m_entries.size() + 1)) Rehash(2 * (m_entries.size() + 1));
  const size_t hash = Hash(key);
  const size_t slot = Find(key, hash);
  if (m_slots[slot]) return nullptr;
  void* room = Allocate(sizeof(Node) + key.size(), alignof(Node));
  m_entries.push_back(nullptr);  // if this throws, the room just stays unused
  Node* node = new (room) Node{key.size(), hash, std::move(file)};
  if (!key.empty()) std::memcpy(static_cast<char*>(room) + sizeof(Node), key.data(), key.size());
  m_entries.back() = node;
  m_slots[slot] = node;
  return &node->file;
}

CFtpFile* CFtpFiles::Item(std::string_view key) {
  if (m_slots.empty()) return nullptr;
  Node* n = m_slots[Find(key, Hash(key))];
  return n ? &n->file : nullptr;
}

const CFtpFile* CFtpFiles::Item(std::string_view key) const {
  return const_cast<CFtpFiles*>(this)->Item(key);
}

CFtpFile* CFtpFiles::Item(size_t position) {
  if (position < 1 || position > m_entries.size()) return nullptr;
  return &m_entries[position - 1]->file;
}

const CFtpFile* CFtpFiles::Item(size_t position) const {
  return const_cast<CFtpFiles*>(this)->Item(position);
}

bool CFtpFiles::Remove(std::string_view key) {
  if (m_slots.empty()) return false;
  const size_t slot = Find(key, Hash(key));
  Node* target = m_slots[slot];
  if (!target) return false;
  EraseSlot(slot);
  m_entries.erase(std::find(m_entries.begin(), m_entries.end(), target));
  target->~Node();
  return true;
}

bool CFtpFiles::Remove(size_t position) {
  if (position < 1 || position > m_entries.size()) return false;
  const auto it = m_entries.begin() + static_cast<std::ptrdiff_t>(position - 1);
  Node* target = *it;
  EraseSlot(Find(target->Key(), target->hash));
  m_entries.erase(it);
  target->~Node();
  return true;
}

}  // namespace pellan
