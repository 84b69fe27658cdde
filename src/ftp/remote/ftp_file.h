// Remote directory entries: CFtpFile, one entry as a listing showed it, and
// CFtpFiles, the entries of one listing keyed by name in listing order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ftp/remote/list_date.h"

namespace pellan {

// True when a name taken from a server may become the last component of a
// local path: not empty, not "." or "..", and without "/", "\" or NUL. Names
// are data, never paths: every caller that joins a listed name to a local
// folder asks this first and refuses the entry otherwise.
bool IsSafeLocalFileName(std::string_view name);

// The columns of an entry besides name, size and date. A listing repeats
// them on nearly every line (or leaves them empty), so records share one
// copy, never changed once made.
struct FileColumns {
  std::string permissions;
  std::string owner;
  std::string group;  // empty when the listing line had no group column
  std::string filePath;  // a symbolic link's target
};
using SharedColumns = std::shared_ptr<const FileColumns>;

class CFtpFile {
 public:
  bool IsDirectory() const { return m_isDirectory; }
  void SetIsDirectory(bool v) { m_isDirectory = v; }

  // Bytes; exact up to 2^63 - 1, so a resume offset taken from it is exact.
  int64_t FileSize() const { return m_fileSize; }
  void SetFileSize(int64_t v) { m_fileSize = v; }

  // Always "yyyy-mm-dd hh:mm": ListDateText of LastWriteDate(), formed when
  // asked for. Text that does not read as a date (see ParseListDateText) is
  // stored as the zero date, 1899-12-30 00:00.
  std::string LastWriteTime() const { return ListDateText(m_lastWrite); }
  const ListDate& LastWriteDate() const { return m_lastWrite; }
  void SetLastWriteTime(const ListDate& v) { m_lastWrite = v; }
  void SetLastWriteTime(std::string_view v);

  // The entry's name as listed (program text; bytes that did not convert
  // from the session's code page are kept as they came).
  const std::string& FileName() const { return m_fileName; }
  void SetFileName(std::string v) { m_fileName = std::move(v); }

  // A symbolic link's target; otherwise empty unless a caller sets it.
  const std::string& FilePath() const { return Columns().filePath; }
  void SetFilePath(std::string v) { Change(&FileColumns::filePath, std::move(v)); }

  const std::string& Permissions() const { return Columns().permissions; }
  void SetPermissions(std::string v) { Change(&FileColumns::permissions, std::move(v)); }

  const std::string& Owner() const { return Columns().owner; }
  void SetOwner(std::string v) { Change(&FileColumns::owner, std::move(v)); }

  // Empty when the listing line had no group column.
  const std::string& Group() const { return Columns().group; }
  void SetGroup(std::string v) { Change(&FileColumns::group, std::move(v)); }

  // The four columns above at once, as other records may hold them too
  // (nullptr: all empty).
  void SetColumns(SharedColumns columns) { m_columns = std::move(columns); }

 private:
  const FileColumns& Columns() const;
  // One column changed: the record gets a copy of its own.
  void Change(std::string FileColumns::*column, std::string v);

  bool m_isDirectory = false;
  ListDate m_lastWrite = kZeroDate;  // kept as numbers: a listing holds thousands
  int64_t m_fileSize = 0;
  std::string m_fileName;
  SharedColumns m_columns;
};

// Keys are compared exactly, as this platform compares file names: "Ra.txt"
// and "RA.txt" are two entries. Records keep their address while they are in
// the collection.
class CFtpFiles {
  // An entry: its key, the key's hash and the record. Nodes and the bytes of
  // keys are carved from blocks the collection owns, so a listing of many
  // thousands of entries costs a few dozen allocations rather than one or
  // two per entry.
  struct Node {
    size_t keySize = 0;  // the key's bytes follow the node
    size_t hash = 0;
    CFtpFile file;

    std::string_view Key() const { return {reinterpret_cast<const char*>(this + 1), keySize}; }
  };
  using Entries = std::vector<Node*>;

 public:
  template <typename Base, typename Value>
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = CFtpFile;
    using difference_type = std::ptrdiff_t;
    using pointer = Value*;
    using reference = Value&;

    Iterator() = default;
    explicit Iterator(Base it) : m_it(it) {}
    reference operator*() const { return (*m_it)->file; }
    pointer operator->() const { return &(*m_it)->file; }
    Iterator& operator++() {
      ++m_it;
      return *this;
    }
    Iterator operator++(int) {
      Iterator old = *this;
      ++m_it;
      return old;
    }
    bool operator==(const Iterator& o) const { return m_it == o.m_it; }

   private:
    Base m_it{};
  };
  using iterator = Iterator<Entries::iterator, CFtpFile>;
  using const_iterator = Iterator<Entries::const_iterator, const CFtpFile>;

  CFtpFiles() = default;
  CFtpFiles(CFtpFiles&& other) noexcept;
  CFtpFiles& operator=(CFtpFiles&& other) noexcept;
  ~CFtpFiles();

  // Room for `count` entries without growing (a listing knows its line
  // count before it adds the first record).
  void Reserve(size_t count);

  // The added record, or nullptr (and nothing added) when the key is taken.
  CFtpFile* Add(CFtpFile file, std::string_view key);

  // By key, or by 1-based position; nullptr when there is no such item.
  CFtpFile* Item(std::string_view key);
  const CFtpFile* Item(std::string_view key) const;
  CFtpFile* Item(size_t position);
  const CFtpFile* Item(size_t position) const;

  size_t Count() const { return m_entries.size(); }

  // False when there is no such item.
  bool Remove(std::string_view key);
  bool Remove(size_t position);

  // Insertion order.
  iterator begin() { return iterator(m_entries.begin()); }
  iterator end() { return iterator(m_entries.end()); }
  const_iterator begin() const { return const_iterator(m_entries.begin()); }
  const_iterator end() const { return const_iterator(m_entries.end()); }

 private:
  static size_t Hash(std::string_view key) { return std::hash<std::string_view>{}(key); }
  // The slot holding `key`, or the empty slot where it would go; the table
  // must not be empty.
  size_t Find(std::string_view key, size_t hash) const;
  // True when the table holds `count` entries within its load limit.
  bool SlotsFor(size_t count) const;
  // A table for at least `count` entries, the present entries in it.
  void Rehash(size_t count);
  void EraseSlot(size_t slot);
  // `size` bytes at the given alignment from the current block, or from a
  // new one.
  void* Allocate(size_t size, size_t alignment);
  void DestroyNodes();

  Entries m_entries;
  // The index by key: open addressing with linear probing over a power-of-two
  // table that is never more than three quarters full; nullptr marks an
  // empty slot.
  std::vector<Node*> m_slots;
  // The blocks entries are carved from; the last one is being filled. A
  // removed entry's room is given back only with the collection.
  std::vector<std::unique_ptr<std::byte[]>> m_blocks;
  size_t m_blockSize = 0;
  size_t m_blockUsed = 0;
};

}  // namespace pellan
