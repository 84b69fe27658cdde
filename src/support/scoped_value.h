// A pointer set, or a count raised, for the length of a scope.
#pragma once

namespace pellan {

// Sets `slot` to `value` for the life of the scope and puts back what was
// there (a retry runs a nested attempt).
template <class T>
class ScopedPointer {
 public:
  ScopedPointer(T*& slot, T* value) : m_slot(slot), m_previous(slot) { slot = value; }
  ~ScopedPointer() { m_slot = m_previous; }
  ScopedPointer(const ScopedPointer&) = delete;
  ScopedPointer& operator=(const ScopedPointer&) = delete;

 private:
  T*& m_slot;
  T* m_previous;
};

// Counts the scope in `count` for its life (scopes nest): a probe, for
// instance, that may end by an exception.
class ScopedCount {
 public:
  explicit ScopedCount(int& count) : m_count(count) { ++count; }
  ~ScopedCount() { --m_count; }
  ScopedCount(const ScopedCount&) = delete;
  ScopedCount& operator=(const ScopedCount&) = delete;

 private:
  int& m_count;
};

}  // namespace pellan
