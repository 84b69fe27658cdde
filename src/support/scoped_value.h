// A pointer set for the length of a scope.
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

}  // namespace pellan
