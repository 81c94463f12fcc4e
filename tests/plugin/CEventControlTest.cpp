#include "plugin/CEventControl.h"

#include <gtest/gtest.h>

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
