#include "opt/handle.h"

#include <gtest/gtest.h>

namespace zelto {
namespace {

struct Tracked {
  explicit Tracked(int* alive) : alive(alive) { ++*alive; }
  ~Tracked() { --*alive; }
  int* alive;
};

TEST(HandleTest, CopiesShareAndLastHolderDeletes) {
  int alive = 0;
  {
    Handle<Tracked> a(new Tracked(&alive));
    Handle<Tracked> other(new Tracked(&alive));
    {
      Handle<Tracked> b(a);
      other = b;  // drops the second object
      Handle<Tracked>& same = other;
      other = same;
      EXPECT_EQ(alive, 1);
      EXPECT_EQ(other.get(), a.get());
      EXPECT_EQ(a.use_count(), 3);
    }
    EXPECT_EQ(a.use_count(), 2);
  }
  EXPECT_EQ(alive, 0);
}

TEST(HandleTest, Release) {
  int alive = 0;
  Handle<Tracked> a(new Tracked(&alive));
  {
    Handle<Tracked> b(a);
    b.release();  // a shared holder leaves the object to the others
    EXPECT_EQ(b.get(), nullptr);
    EXPECT_EQ(b.use_count(), 1);
    EXPECT_EQ(a.use_count(), 1);
  }
  EXPECT_EQ(alive, 1);
  a.release();  // the last holder deletes and keeps its counter
  EXPECT_EQ(alive, 0);
  EXPECT_EQ(a.get(), nullptr);
  Handle<Tracked> c(a);
  EXPECT_EQ(c.use_count(), 2);
}

}  // namespace
}  // namespace zelto
