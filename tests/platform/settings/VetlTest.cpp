#include <gtest/gtest.h>

#include "platform/settings/Vetl.h"

namespace {

class Counted : public vetl::IRefCounted {
 public:
  explicit Counted(int* destroyed) : destroyed_(destroyed) {}
  ~Counted() override { ++*destroyed_; }
  int32_t AddRef() override { return ++count_; }
  [[gnu::noinline]] int32_t Release() override {  // out of line: the count decides, not the compiler
    const int32_t count = --count_;
    if (count <= 0) delete this;
    return count;
  }
  int32_t GetRefCount() const override { return count_; }

 private:
  int32_t count_ = 0;
  int* destroyed_;
};

}  // namespace

TEST(RefCountedPtr, CountsCopiesAndAssignments) {
  int destroyed = 0;
  {
    vetl::RefCountedPtr<Counted> first(new Counted(&destroyed));
    EXPECT_EQ(first->GetRefCount(), 1);
    {
      vetl::RefCountedPtr<Counted> copy(first);
      EXPECT_EQ(first->GetRefCount(), 2);
      vetl::RefCountedPtr<Counted> assigned;
      assigned = copy;
      EXPECT_EQ(first->GetRefCount(), 3);
      assigned = assigned;  // adds before it drops: the object survives
      EXPECT_EQ(first->GetRefCount(), 3);
    }
    EXPECT_EQ(first->GetRefCount(), 1);
    vetl::RefCountedPtr<Counted> other(new Counted(&destroyed));
    first = other;  // the first object goes
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(other->GetRefCount(), 2);
  }
  EXPECT_EQ(destroyed, 2);
}

TEST(MemoryBuffer, ResizesAndZeroFills) {
  vetl::MemoryBuffer<char16_t> buffer;
  EXPECT_EQ(buffer.Count(), 0u);
  EXPECT_EQ(buffer.Data(), nullptr);
  buffer.Resize(10, true);
  ASSERT_EQ(buffer.Count(), 10u);
  for (uint32_t i = 0; i < 10; ++i) EXPECT_EQ(buffer.Data()[i], 0);
  buffer.Data()[3] = u'x';
  buffer.Resize(10, false);  // same count: kept
  EXPECT_EQ(buffer.Data()[3], u'x');
  buffer.Resize(10, true);
  EXPECT_EQ(buffer.Data()[3], 0);
  buffer.Resize(0, false);
  EXPECT_EQ(buffer.Count(), 0u);
  EXPECT_EQ(buffer.Data(), nullptr);
}
