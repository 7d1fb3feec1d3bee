// Small helpers of the settings store: the reference-counted interface, its smart pointer and a
// resizable buffer.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <new>

namespace vetl {

class IRefCounted {
 public:
  virtual ~IRefCounted() = default;
  virtual int32_t AddRef() = 0;          // the new count
  virtual int32_t Release() = 0;         // the new count; the object goes at 0 or below
  virtual int32_t GetRefCount() const = 0;
};

// Holds one reference. Copying adds a reference; assigning adds one to the new object before
// dropping the old; destruction drops it and nulls the pointer.
template <class T>
class RefCountedPtr_STLSafe {
 public:
  RefCountedPtr_STLSafe() = default;
  explicit RefCountedPtr_STLSafe(T* object) : m_object(object) {
    if (m_object) m_object->AddRef();
  }
  RefCountedPtr_STLSafe(const RefCountedPtr_STLSafe& other) : RefCountedPtr_STLSafe(other.m_object) {}
  RefCountedPtr_STLSafe& operator=(const RefCountedPtr_STLSafe& other) {
    Reset(other.m_object);
    return *this;
  }
  virtual ~RefCountedPtr_STLSafe() { Reset(nullptr); }

  void Reset(T* object) {
    if (object == m_object) return;  // adding and then dropping one reference changes nothing
    if (object) object->AddRef();
    T* old = m_object;
    m_object = object;
    if (old) old->Release();
  }
  T* Get() const { return m_object; }
  T* operator->() const { return m_object; }
  T& operator*() const { return *m_object; }
  explicit operator bool() const { return m_object != nullptr; }

 protected:
  T* m_object = nullptr;
};

template <class T>
class RefCountedPtr : public RefCountedPtr_STLSafe<T> {
 public:
  using RefCountedPtr_STLSafe<T>::RefCountedPtr_STLSafe;
  RefCountedPtr() = default;
  RefCountedPtr(const RefCountedPtr& other) : RefCountedPtr_STLSafe<T>(other) {}
  RefCountedPtr& operator=(const RefCountedPtr& other) {
    this->Reset(other.m_object);
    return *this;
  }
  RefCountedPtr& operator=(T* object) {
    this->Reset(object);
    return *this;
  }
};
static_assert(sizeof(RefCountedPtr<IRefCounted>) == 2 * sizeof(void*));

// A buffer of `count` elements of T (narrow or wide characters, or bytes).
template <class T>
class MemoryBuffer {
 public:
  MemoryBuffer() = default;
  MemoryBuffer(const MemoryBuffer&) = delete;
  MemoryBuffer& operator=(const MemoryBuffer&) = delete;
  virtual ~MemoryBuffer() { Resize(0, false); }

  // When the count differs, frees the array and allocates `count` elements (none for 0; a failed
  // allocation leaves the count 0). With zeroFill every element is then 0.
  void Resize(uint32_t count, bool zeroFill) {
    if (count != m_count) {
      std::free(m_data);
      m_data = nullptr;
      m_count = 0;
      if (count > 0) {
        m_data = static_cast<T*>(std::malloc(static_cast<size_t>(count) * sizeof(T)));
        if (m_data) m_count = count;
      }
    }
    if (zeroFill)
      for (uint32_t i = 0; i < m_count; ++i) m_data[i] = T();
  }
  T* Data() const { return m_data; }
  uint32_t Count() const { return m_count; }

 private:
  T* m_data = nullptr;
  uint32_t m_count = 0;
};

}  // namespace vetl
