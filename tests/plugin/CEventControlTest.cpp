#include "plugin/CEventControl.h"

#include <gtest/gtest.h>

#include <thread>

TEST(CEventControlTest, ModesAdmitAsTheySay)
{
    CEventControl concurrent(AllowConcurrent);
    EXPECT_TRUE(concurrent.TryEnter());
    EXPECT_TRUE(concurrent.TryEnter());

    CEventControl rejecting(RejectWhileBusy);
    ASSERT_TRUE(rejecting.TryEnter());
    EXPECT_FALSE(rejecting.TryEnter());
    rejecting.Leave();
    EXPECT_TRUE(rejecting.TryEnter());
    rejecting.Leave();

    CEventControl unknown(static_cast<EventControlMode>(3));
    EXPECT_FALSE(unknown.TryEnter());
}

TEST(CEventControlTest, GuardLeavesOnEveryWayOut)
{
    CEventControl control(WaitForPrevious);
    try
    {
        const CAutoEventControl guard(control);
        ASSERT_TRUE(guard.Entered());
        throw 1;
    }
    catch (int)
    {
    }
    // Were it still held, this thread would wait for itself (the mutex is not recursive): another thread
    // must be able to enter.
    bool entered = false;
    std::thread other([&] {
        const CAutoEventControl guard(control);
        entered = guard.Entered();
    });
    other.join();
    EXPECT_TRUE(entered);
}
