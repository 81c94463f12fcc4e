#include "platform/ScopeExit.h"

#include <gtest/gtest.h>

#include <utility>

TEST(ScopeExitTest, RunsOnceOnEveryWayOutUnlessDismissed)
{
    int runs = 0;
    {
        auto guard = ScopeExit([&] { ++runs; });
        auto moved = std::move(guard); // the moved-from guard no longer runs
    }
    EXPECT_EQ(runs, 1);
    try
    {
        const auto guard = ScopeExit([&] { ++runs; });
        throw 1;
    }
    catch (int)
    {}
    EXPECT_EQ(runs, 2);
    {
        auto guard = ScopeExit([&] { ++runs; });
        guard.Dismiss();
    }
    EXPECT_EQ(runs, 2);
}
