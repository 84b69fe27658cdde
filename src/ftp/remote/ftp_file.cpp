#include "ftp/remote/ftp_file.h"

#include <algorithm>

namespace pellan {

bool IsSafeLocalFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

void CFtpFile::SetLastWriteTime(std::string_view v) {
  SetLastWriteTime(ParseListDateText(v).value_or(kZeroDate));
}

CFtpFile* CFtpFiles::Add(CFtpFile file, std::string key) {
  const auto [slot, inserted] = m_byKey.try_emplace(key, nullptr);
  if (!inserted) return nullptr;
  auto owned = std::make_unique<CFtpFile>(std::move(file));
  slot->second = owned.get();
  m_entries.push_back(Entry{std::move(key), std::move(owned)});
  return slot->second;
}

CFtpFile* CFtpFiles::Item(std::string_view key) {
  const auto it = m_byKey.find(key);
  return it == m_byKey.end() ? nullptr : it->second;
}

const CFtpFile* CFtpFiles::Item(std::string_view key) const {
  return const_cast<CFtpFiles*>(this)->Item(key);
}

CFtpFile* CFtpFiles::Item(size_t position) {
  if (position < 1 || position > m_entries.size()) return nullptr;
  return m_entries[position - 1].file.get();
}

const CFtpFile* CFtpFiles::Item(size_t position) const {
  return const_cast<CFtpFiles*>(this)->Item(position);
}

bool CFtpFiles::Remove(std::string_view key) {
  const auto it = m_byKey.find(key);
  if (it == m_byKey.end()) return false;
  const CFtpFile* target = it->second;
  m_byKey.erase(it);
  m_entries.erase(std::find_if(m_entries.begin(), m_entries.end(),
                               [&](const Entry& e) { return e.file.get() == target; }));
  return true;
}

bool CFtpFiles::Remove(size_t position) {
  if (position < 1 || position > m_entries.size()) return false;
  const auto it = m_entries.begin() + static_cast<std::ptrdiff_t>(position - 1);
  m_byKey.erase(it->key);
  m_entries.erase(it);
  return true;
}

}  // namespace pellan
