#include "opt/handle.h"

#include <gtest/gtest.h>

namespace {

using zelto::Handle;

struct Tracked {
  static inline int alive = 0;
  Tracked() { ++alive; }
  ~Tracked() { --alive; }
};

TEST(HandleTest, CopiesShareUntilTheLastHolderLetsGo) {
  {
    Handle<Tracked> a(new Tracked), other(new Tracked);
    Handle<Tracked> b(a);
    other = b;  // drops the second object
    other = *&other;  // self-assignment is harmless
    EXPECT_EQ(Tracked::alive, 1);
    EXPECT_EQ(a.use_count(), 3);
    b.release();  // a shared holder leaves the object to the others
    EXPECT_EQ(b.get(), nullptr);
    EXPECT_EQ(a.use_count(), 2);
  }
  EXPECT_EQ(Tracked::alive, 0);
  Handle<Tracked> last(new Tracked);
  last.release();  // the last holder deletes and keeps its counter
  EXPECT_EQ(Tracked::alive, 0);
  EXPECT_EQ(last.get(), nullptr);
  EXPECT_EQ(Handle<Tracked>(last).use_count(), 2);
}

}  // namespace
