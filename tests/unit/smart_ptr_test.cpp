#include "support/smart_ptr.h"

#include <gtest/gtest.h>

// Lets a test make a second owner of the same block, as a copy would.
template <class U> class smart_ptr_test_access {
  public:
    static void Share(smart_ptr<U>& from, smart_ptr<U>& to) {
        to.data = from.data;
        from.AddOwner();
    }
};

namespace {

struct cCounted {
    explicit cCounted(int& destroyed) : destroyed(destroyed) {}
    ~cCounted() { ++destroyed; }
    int& destroyed;
};

} // namespace

TEST(SmartPtr, FromNullIsEmptyAndReleasesNothing) {
    smart_ptr<cCounted> pointer(nullptr);
    EXPECT_EQ(pointer.Get(), nullptr);
    EXPECT_EQ(pointer.OwnersBeyondFirst(), 0);
}

TEST(SmartPtr, SoleOwnerDestroysTheObjectExactlyOnce) {
    int destroyed = 0;
    cCounted* object = new cCounted(destroyed);
    {
        smart_ptr<cCounted> pointer(object);
        EXPECT_EQ(pointer.Get(), object);
        EXPECT_EQ(pointer->destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(SmartPtr, ReleaseWithOtherOwnersKeepsTheObjectAlive) {
    int destroyed = 0;
    {
        smart_ptr<cCounted> first(new cCounted(destroyed));
        {
            smart_ptr<cCounted> second(nullptr);
            smart_ptr_test_access<cCounted>::Share(first, second);
            {
                smart_ptr<cCounted> third(nullptr);
                smart_ptr_test_access<cCounted>::Share(first, third);
                EXPECT_EQ(first.OwnersBeyondFirst(), 2);
            }
            EXPECT_EQ(destroyed, 0);
            EXPECT_EQ(first.OwnersBeyondFirst(), 1);
            EXPECT_EQ(second.Get(), first.Get());
        }
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ(first.OwnersBeyondFirst(), 0);
    }
    EXPECT_EQ(destroyed, 1);
}
