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
  explicit RefCountedPtr_STLSafe(T* object) : object_(object) {
    if (object_) object_->AddRef();
  }
  RefCountedPtr_STLSafe(const RefCountedPtr_STLSafe& other) : RefCountedPtr_STLSafe(other.object_) {}
  RefCountedPtr_STLSafe& operator=(const RefCountedPtr_STLSafe& other) {
    Reset(other.object_);
    return *this;
  }
  virtual ~RefCountedPtr_STLSafe() { Reset(nullptr); }

  void Reset(T* object) {
    if (object == object_) return;  // adding and then dropping one reference changes nothing
    if (object) object->AddRef();
    T* old = object_;
    object_ = object;
    if (old) old->Release();
  }
  T* Get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }

 protected:
  T* object_ = nullptr;
};

template <class T>
class RefCountedPtr : public RefCountedPtr_STLSafe<T> {
 public:
  using RefCountedPtr_STLSafe<T>::RefCountedPtr_STLSafe;
  RefCountedPtr() = default;
  RefCountedPtr(const RefCountedPtr& other) : RefCountedPtr_STLSafe<T>(other) {}
  RefCountedPtr& operator=(const RefCountedPtr& other) {
    this->Reset(other.object_);
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
    if (count != count_) {
      std::free(data_);
      data_ = nullptr;
      count_ = 0;
      if (count > 0) {
        data_ = static_cast<T*>(std::malloc(static_cast<size_t>(count) * sizeof(T)));
        if (data_) count_ = count;
      }
    }
    if (zeroFill)
      for (uint32_t i = 0; i < count_; ++i) data_[i] = T();
  }
  T* Data() const { return data_; }
  uint32_t Count() const { return count_; }

 private:
  T* data_ = nullptr;
  uint32_t count_ = 0;
};

}  // namespace vetl
