#include "CFakeComms.h"
#include "CFakeConfigUtil.h"
#include "TraceCapture.h"

#include "network/ProxyAndTrust.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace
{

constexpr GUID kUnit = trace::ParseGuid("f4172acb-5383-4ae3-9a5d-f132c0249d2a");

// Attaching itself is shown by the dispatcher's and the TrackingSend processor's tests.
TEST(ProxyAndTrustTest, AttachedObjectsLiveAsLongAsTheSettingsWhatCannotBeAttachedIsTraced)
{
    CFakeConfigUtil util;
    CFakeComms comms;
    {
        // The request may refer to what it was given until it is released: the settings hold it until then.
        CStubTrackingRequest attached;
        const CRequestSettings settings = AttachProxyAndTrust(attached, &util, &comms, L"http://b/");
        ASSERT_NE(attached.proxies, nullptr);
        ASSERT_NE(attached.trust, nullptr);
        EXPECT_EQ(comms.Outstanding(), 2);
    }
    EXPECT_EQ(comms.Outstanding(), 0);

    comms.listAccepts = false;
    comms.failTrust = true;
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelWarning, kTraceFlagEvents);
    CStubRequest request;
    CStubTrackingRequest hit;
    {
        const CRequestSettings forRequest = AttachProxyAndTrust(request, &util, &comms, true, L"http://a/");
        const CRequestSettings forHit = AttachProxyAndTrust(hit, &util, &comms, L"http://b/");
    }
    for (const ULONG number : {10u, 11u})
        EXPECT_EQ(std::count_if(capture.Messages().begin(), capture.Messages().end(),
                                [&](const CapturedTrace& m) { return m.unit == kUnit && m.number == number; }),
                  2)
            << number;
    EXPECT_EQ(request.proxies, nullptr);
    EXPECT_EQ(request.trust, nullptr);
    EXPECT_EQ(hit.proxies, nullptr);
    EXPECT_EQ(hit.trust, nullptr);
    EXPECT_EQ(comms.Outstanding(), 0);
    EXPECT_EQ(comms.BadReleases(), 0);
}

} // namespace
