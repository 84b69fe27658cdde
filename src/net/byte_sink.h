// ByteSink: a growing run of received bytes that a socket reads straight
// into, for a stream that is kept whole (a listing). The room handed to the
// socket is not cleared first, so only the bytes that arrive are ever
// written.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace pellan {

class ByteSink {
 public:
  std::string_view View() const { return {m_data.get(), m_size}; }
  size_t Size() const { return m_size; }
  bool Empty() const { return m_size == 0; }

  // Forgets the bytes; the room stays for the next stream.
  void Clear() { m_size = 0; }
  // Forgets the bytes and gives the room back.
  void Release() {
    m_data.reset();
    m_size = m_capacity = 0;
  }

  // At least `n` writable bytes just past the end; what was written there
  // counts once Commit says how much.
  char* Room(size_t n) {
    if (m_capacity - m_size < n) {
      const size_t capacity = std::max(2 * m_capacity, m_size + n);
      auto data = std::make_unique_for_overwrite<char[]>(capacity);
      if (m_size > 0) std::memcpy(data.get(), m_data.get(), m_size);
      m_data = std::move(data);
      m_capacity = capacity;
    }
    return m_data.get() + m_size;
  }
  void Commit(size_t n) { m_size += std::min(n, m_capacity - m_size); }

  void Append(std::string_view bytes) {
    std::memcpy(Room(bytes.size()), bytes.data(), bytes.size());
    Commit(bytes.size());
  }

 private:
  std::unique_ptr<char[]> m_data;
  size_t m_size = 0;
  size_t m_capacity = 0;
};

}  // namespace pellan
