#include <gtest/gtest.h>

#include "platform/settings/Vetl.h"

namespace {

class Counted : public vetl::IRefCounted {
 public:
  explicit Counted(int* destroyed) : m_destroyed(destroyed) {}
  ~Counted() override { ++*m_destroyed; }
  int32_t AddRef() override { return ++m_count; }
  [[gnu::noinline]] int32_t Release() override {  // out of line: the count decides, not the compiler
    const int32_t count = --m_count;
    if (count <= 0) delete this;
    return count;
  }
  int32_t GetRefCount() const override { return m_count; }

 private:
  int32_t m_count = 0;
  int* m_destroyed;
};

}  // namespace

TEST(RefCountedPtr, SelfAssignmentKeepsTheObjectAndReassignmentDropsTheOld) {
  int destroyed = 0;
  {
    vetl::RefCountedPtr<Counted> first(new Counted(&destroyed));
    vetl::RefCountedPtr<Counted> copy(first);
    copy = copy;  // adds before it drops: the object survives
    EXPECT_EQ(first->GetRefCount(), 2);
    first = vetl::RefCountedPtr<Counted>(new Counted(&destroyed));
    copy = first;  // the first object goes with its last reference
    EXPECT_EQ(destroyed, 1);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(MemoryBuffer, KeepsItsElementsUnlessTheCountChangesOrZeroFillIsAsked) {
  vetl::MemoryBuffer<char16_t> buffer;
  buffer.Resize(10, true);
  buffer.Data()[3] = u'x';
  buffer.Resize(10, false);
  EXPECT_EQ(buffer.Data()[3], u'x');
  buffer.Resize(10, true);
  EXPECT_EQ(std::u16string(buffer.Data(), buffer.Count()), std::u16string(10, u'\0'));  // zero-filled again
  buffer.Resize(0, false);
  EXPECT_EQ(buffer.Data(), nullptr);
}
