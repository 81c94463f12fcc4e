#include "CFakeComms.h"
#include "CFakeConfigUtil.h"

#include "network/CCertificateTrustworthinessConfig.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace
{

constexpr wchar_t kSettingsKey[] = L"Communications.CertificateTrustworthiness.Settings";

using Added = std::vector<std::pair<std::wstring, std::vector<std::wstring>>>;

class CertificateTrustTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        EXPECT_EQ(comms.Outstanding(), 0);
        EXPECT_EQ(comms.BadReleases(), 0);
    }

    CFakeConfigUtil util;
    CFakeComms comms;
};

TEST_F(CertificateTrustTest, EnabledOnlyFromABoolean)
{
    // A null settings text: the key is absent.
    const struct { const wchar_t* settings; bool enabled; } rows[] = {
        {nullptr, true},
        {LR"({"Enabled":false})", false},
        {LR"({"Enabled":true})", true},
        {LR"({"Enabled":"false"})", true},
        {LR"({"Enabled":0})", true},
        {LR"({"Enabled":null})", true},
        {LR"({"Enabled":false)", true},   // not JSON
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.settings != nullptr ? row.settings : L"<absent>");
        if (row.settings != nullptr)
            util.Set(kSettingsKey, row.settings);
        const CCertificateTrustworthinessConfig config(&comms, &util);
        EXPECT_TRUE(config.IsValid());
        const CFakeTrust& trust = *comms.trusts.back();
        EXPECT_EQ(config.GetTrustHandle(), &trust);
        EXPECT_EQ(trust.enabledCalls, std::vector<bool>{row.enabled});
        EXPECT_TRUE(trust.added.empty());
    }
}

TEST_F(CertificateTrustTest, RulesOnlyFromAnObjectInCodeUnitOrderAndTrustAttached)
{
    const struct { const wchar_t* settings; Added added; bool enabled; } rows[] = {
        {LR"({"TrustedCertificatesByDomain":{"b.example":["c1","",5,null,"c2"],"text":"c3","B":["k1"],
             "a":{"first":"o1","second":7},"empty":[]}})",
         {{L"B", {L"k1"}}, {L"a", {L"o1"}}, {L"b.example", {L"c1", L"c2"}}, {L"empty", {}}}, true},
        {LR"({"Enabled":false,"TrustedCertificatesByDomain":[["x"],{"d":["y"]}]})", {}, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.settings);
        util.Set(kSettingsKey, row.settings);
        CCertificateTrustworthinessConfig config(&comms, &util);
        EXPECT_EQ(comms.trusts.back()->added, row.added);
        EXPECT_EQ(comms.trusts.back()->enabledCalls, std::vector<bool>{row.enabled});
        CStubRequest request;
        CStubDataServiceClient client;
        config.AttachTrustToRequest(&request);
        config.AttachTrustToClient(&client);
        EXPECT_EQ(request.trust, comms.trusts.back().get());
        EXPECT_EQ(client.trust, comms.trusts.back().get());
    }
}

TEST_F(CertificateTrustTest, WithoutATrustObjectNothingIsSetOrAttached)
{
    util.Set(kSettingsKey, LR"({"TrustedCertificatesByDomain":{"d":["c"]}})");
    comms.failTrust = true;
    CCertificateTrustworthinessConfig failed(&comms, &util);
    CCertificateTrustworthinessConfig noComms(nullptr, &util);
    CStubRequest request;
    CStubDataServiceClient client;
    for (CCertificateTrustworthinessConfig* config : {&failed, &noComms})
    {
        EXPECT_FALSE(config->IsValid());
        EXPECT_EQ(config->GetTrustHandle(), nullptr);
        config->AttachTrustToRequest(&request);
        config->AttachTrustToClient(&client);
    }
    EXPECT_EQ(request.trust, nullptr);
    EXPECT_EQ(client.trust, nullptr);
    EXPECT_TRUE(comms.trusts.empty());
}

} // namespace
