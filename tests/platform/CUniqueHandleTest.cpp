#include "platform/CHandedOut.h"
#include "platform/CUniqueHandle.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

namespace
{

// Handles are plain numbers here; closing one notes it.
std::vector<int> g_closed;

struct CountedTraits
{
    static int None() noexcept { return 0; }
    static void Close(int h) noexcept { g_closed.push_back(h); }
};

using CCounted = CUniqueHandle<int, CountedTraits>;

} // namespace

TEST(CUniqueHandleTest, ClosesEachHandleOnceResetWithTheHeldHandleKeepsIt)
{
    g_closed.clear();
    {
        CCounted owner(7);
        owner.Reset(7); // the handle it holds: still open, still held
        EXPECT_TRUE(g_closed.empty());
        EXPECT_EQ(owner.Get(), 7);
        owner.Reset(8);
        EXPECT_EQ(g_closed, std::vector<int>{7});
        CCounted moved(std::move(owner));
        EXPECT_FALSE(owner);
        const int released = moved.Release(); // the caller's now: never closed by the owner
        EXPECT_EQ(released, 8);
        moved.Reset(9);
    }
    EXPECT_EQ(g_closed, (std::vector<int>{7, 9}));
}

// A peer may hand back an address twice or one it never got: neither may free memory.
TEST(CHandedOutTest, TakesBackOnlyWhatIsStillOut)
{
    CHandedOut<int> handedOut;
    int* given = handedOut.HandOut(std::make_unique<int>(7));
    int* const sameAddress = given;
    const auto foreign = std::make_unique<int>(8); // another allocation's, as a peer's would be
    int* notOurs = foreign.get();
    int* none = nullptr;
    handedOut.TakeBack(&notOurs);
    handedOut.TakeBack(&none);
    handedOut.TakeBack(nullptr);
    EXPECT_EQ(notOurs, foreign.get());
    EXPECT_EQ(handedOut.Outstanding(), 1u);

    handedOut.TakeBack(&given);
    EXPECT_EQ(given, nullptr);
    int* again = sameAddress;
    handedOut.TakeBack(&again);
    EXPECT_EQ(again, sameAddress);
    EXPECT_EQ(handedOut.Outstanding(), 0u);
}
