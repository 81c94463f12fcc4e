// The proxy settings: the fallback list, the used-proxy record and the certificate trust, each also fed seeded
// mutations of the settings here (Fuzz.h says what those cases check and how to run them longer); and how a
// request gets them.

#include "CFakeComms.h"
#include "CFakeConfigUtil.h"
#include "Fuzz.h"
#include "TraceCapture.h"

#include "comms/CAESCypher.h"
#include "network/CCertificateTrustworthinessConfig.h"
#include "network/CProxyConfig.h"
#include "network/ProxyAndTrust.h"
#include "network/UsedProxyRecord.h"
#include "platform/Digest.h"
#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace
{

constexpr GUID kAttachUnit = trace::ParseGuid("f4172acb-5383-4ae3-9a5d-f132c0249d2a");
constexpr GUID kProxyUnit = trace::ParseGuid("32b491bd-0ca9-4812-bd53-152454874f1f");

constexpr wchar_t kFallbackListKey[] = L"Proxy.Default.FallbackList";
constexpr wchar_t kLastUsedKey[] = L"Proxy.Default.LastProxyConfigUsed";
constexpr wchar_t kAlternativeKey[] = L"Proxy.Default.AlternativeProxyConfigUsed";
constexpr wchar_t kOwnDeviceId[] = L"6f1c2a8e-Agent-Own";

// Counts writes, which the shared fake does not tell apart from reads; refuses changes when told to.
class CRecordingConfigUtil : public CFakeConfigUtil
{
public:
    int writes = 0;
    DWORD refusal = ERROR_SUCCESS;
    DWORD SetValue(const wchar_t* key, const wchar_t* value, DWORD flags) override
    {
        ++writes;
        return refusal != ERROR_SUCCESS ? refusal : CFakeConfigUtil::SetValue(key, value, flags);
    }
    DWORD RemoveValue(const wchar_t* key) override
    {
        return refusal != ERROR_SUCCESS ? refusal : CFakeConfigUtil::RemoveValue(key);
    }
    std::wstring Read(const wchar_t* key)
    {
        std::wstring value;
        return GetValue(key, value, 0) == ERROR_SUCCESS ? value : L"<absent>";
    }
};

// The configuration holds text: the mutated bytes as UTF-8, NULs and all.
std::wstring Stored(const std::string& utf8)
{
    std::wstring text;
    return BytesToWide(utf8.data(), utf8.size(), text, CP_UTF8) ? text : std::wstring();
}

constexpr wchar_t kTrustSettingsKey[] = L"Communications.CertificateTrustworthiness.Settings";

// Certificate rules: only arrays of texts under an object count.
const std::vector<std::string> kTrustRules = {
    R"({"Enabled":true,"TrustedCertificatesByDomain":{"b.example":["c1","",5,null,"c2"],"text":"c3","B":["k1"],)"
    R"("a":{"first":"o1","second":7},"empty":[]}})",
    R"({"Enabled":false,"TrustedCertificatesByDomain":[["x"],{"d":["y"]}]})"};

using Added = std::vector<std::pair<std::wstring, std::vector<std::wstring>>>;

const std::vector<std::string> kUsedRecords = {
    R"({"Mode":1,"ProxyList":"last:8080","Username":"lu","Password":"lp","WPADAutoDetect":false,"Fallback":true})",
    R"({"Mode":2,"ProxyList":"p","Username":"u","Password":"pw","WPADUrl":"http://w","WPADAutoDetect":true})",
    R"({"Mode":0,"WPADAutoDetect":false,"Fallback":true})",
};

std::wstring Describe(const ICommsProxyConfig* config)
{
    return config != nullptr ? static_cast<const CFakeProxyConfig*>(config)->Describe() : L"<none>";
}

class ProxyConfigTest : public ::testing::Test
{
protected:
    void SetUp() override { util.Set(L"Register.Register.DeviceId", kOwnDeviceId); }

    // Whatever a test did, every object taken from the component and every queried value went back.
    void TearDown() override
    {
        EXPECT_EQ(comms.Outstanding(), 0);
        EXPECT_EQ(comms.BadReleases(), 0);
        EXPECT_EQ(util.Outstanding(), 0);
    }

    std::unique_ptr<CProxyConfig> Make(bool putLastUsedFirst = false)
    {
        return std::make_unique<CProxyConfig>(&util, &comms, putLastUsedFirst);
    }
    const std::vector<std::wstring>& Routes() const { return comms.lists.back()->routes; }

    CRecordingConfigUtil util;
    CFakeComms comms;
};

using CertificateTrustTest = ProxyConfigTest;

TEST_F(ProxyConfigTest, EntriesBecomeRoutes)
{
    // entries: inside "ProxyConfig": [ ... ]
    const std::tuple<const wchar_t*, std::vector<std::wstring>, const wchar_t*, const wchar_t*> rows[] = {
        {LR"({"source":"direct","fallback":true})", {L"direct 1"}, L"<none>", L"<none>"},
        {LR"({"source":"winhttp"})", {L"auto 1 0"}, L"<none>", L"<none>"},
        {LR"({"source":"ie","fallback":true})", {L"auto 2 1"}, L"<none>", L"<none>"},
        {LR"({"source":"wpad","PacFileUrl":"http://cfg/p.pac","fallback":true})",
         {L"pac http://cfg/p.pac [] [] 0 0 1"},
         L"<none>",
         L"2||||http://cfg/p.pac|0|1"},
        {LR"({"source":"wpad"})", {L"auto 3 0"}, L"<none>", L"2|||||1|0"},
        {LR"({"source":"explicit","proxyList":"p1;p2:8080","user":"u","password":"pw","fallback":true})",
         {L"explicit p1;p2:8080 u pw <null> 1"},
         L"1|p1;p2:8080|u|pw||0|1",
         L"<none>"},
        // Another agent serves as proxy: its port is the device default where none is given.
        {LR"({"source":"explicit","proxyList":"p1;p2:8080","DeviceId":"other-agent"})",
         {L"explicit p1:3128;p2:8080   <null> 0"},
         L"1|p1:3128;p2:8080||||0|0",
         L"<none>"},
        // This agent itself, in another letter case: connect directly instead.
        {LR"({"source":"explicit","proxyList":"me","DeviceId":"6F1C2A8E-AGENT-OWN","fallback":true})",
         {L"direct 1"},
         L"<none>",
         L"<none>"},
        // Only the first explicit route becomes the explicit proxy.
        {LR"({"source":"explicit","proxyList":"a:1"},{"source":"explicit","proxyList":"b:2"})",
         {L"explicit a:1   <null> 0", L"explicit b:2   <null> 0"},
         L"1|a:1||||0|0",
         L"<none>"},
        // Only the first object element may give the WPAD proxy; other elements do not count.
        {LR"({"source":"direct"},{"source":"wpad"})", {L"direct 0", L"auto 3 0"}, L"<none>", L"<none>"},
        {LR"("text",7,{"source":"wpad","PacFileUrl":"u1"},{"source":"wpad"})",
         {L"pac u1 [] [] 0 0 0", L"auto 3 0"},
         L"<none>",
         L"2||||u1|0|0"},
        // Rejected entries leave the others alone; with none left, a direct route with fallback.
        {LR"({"source":"Direct"},[{"source":"ie"}],{"source":"ie"})", {L"auto 2 0"}, L"<none>", L"<none>"},
        {LR"({"source":"explicit","user":"u"})", {L"direct 1"}, L"<none>", L"<none>"},
    };
    for (const auto& [entries, routes, explicitProxy, wpadProxy] : rows)
    {
        SCOPED_TRACE(entries);
        util.Set(kFallbackListKey, std::wstring(LR"({"ProxyConfig":[)") + entries + L"]}");
        const auto config = Make();
        EXPECT_TRUE(config->IsValid());
        EXPECT_EQ(config->GetProxyList(), comms.lists.back().get());
        EXPECT_EQ(Routes(), routes);
        EXPECT_EQ(Describe(config->GetExplicitProxy()), explicitProxy);
        EXPECT_EQ(Describe(config->GetWpadProxy()), wpadProxy);
    }
}

TEST_F(ProxyConfigTest, ValidOnlyWhenTheListAcceptsARouteAndEveryRefusalIsTraced)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelWarning, kTraceFlagEvents);
    comms.listAccepts = false;
    util.Set(kLastUsedKey, LR"({"Mode":1,"ProxyList":"last:1"})");
    util.Set(kFallbackListKey, LR"({"ProxyConfig":[{"source":"nonsense"},{"source":"ie"},{"source":"winhttp"},
        {"source":"wpad","PacFileUrl":"http://p/x.pac"},{"source":"wpad"},{"source":"direct"},
        {"source":"explicit","proxyList":"e:2"},{"source":"explicit","proxyList":"me","DeviceId":"6f1c2a8e-agent-own"}]})");
    EXPECT_FALSE(Make(true)->IsValid());
    EXPECT_EQ(Routes().size(), 9u);
    EXPECT_TRUE(capture.Has(kProxyUnit, 15)); // the unknown source
    EXPECT_TRUE(capture.Has(kProxyUnit, 13)); // no route at all
    std::vector<std::wstring> refused;
    for (const CapturedTrace& message : capture.Messages())
        if (message.number == 23)
            refused.push_back(message.Wide(0) + L" " + message.Wide(1));
    EXPECT_EQ(refused, (std::vector<std::wstring>{L"last used last:1", L"ie <NULL>", L"winhttp <NULL>",
                                                  L"wpad http://p/x.pac", L"wpad <NULL>", L"direct <NULL>",
                                                  L"explicit e:2", L"direct 6f1c2a8e-agent-own", L"direct <NULL>"}));
}

// The list is stored enciphered or as plain JSON; only a value that is neither is an error.
TEST_F(ProxyConfigTest, StoredListFormsAndWhatTheyTrace)
{
    std::string enciphered;
    ASSERT_TRUE(CAESCypher().EncryptToBase64(
        u8"{\"ProxyConfig\":[{\"source\":\"explicit\",\"proxyList\":\"proxy:8080\",\"user\":\"J\u00fcrgen\"}]}",
        enciphered));
    // A null stored text: the key is absent.
    const std::tuple<const wchar_t*, const wchar_t*, bool> rows[] = {
        {nullptr, L"direct 1", false},
        {LR"({"ProxyConfig":[{"source":"ie"}]})", L"auto 2 0", false},
        {L"enciphered", L"explicit proxy:8080 J\u00fcrgen  <null> 0", false},
        {L"", L"direct 1", false},
        {LR"({"ProxyConfig":{"source":"ie"}})", L"direct 1", false},
        {LR"({"ProxyConfig":[]})", L"direct 1", false},
        {L"{", L"direct 1", true},
        {L"AAAAAAAAAAAAAAAAAAAAAA==", L"direct 1", true}, // Base64, but not of a list
    };
    for (const auto& [stored, route, error] : rows)
    {
        SCOPED_TRACE(stored != nullptr ? stored : L"<absent>");
        if (stored != nullptr)
            util.Set(kFallbackListKey, stored == std::wstring(L"enciphered")
                                           ? std::wstring(enciphered.begin(), enciphered.end())
                                           : stored);
        CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
        const auto config = Make();
        EXPECT_TRUE(config->IsValid());
        EXPECT_EQ(Routes(), std::vector<std::wstring>{route});
        EXPECT_EQ(capture.Has(kProxyUnit, 22), error);
        EXPECT_EQ(capture.Messages().empty(), !error);
    }
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelVerbose, kTraceFlagEvents);
    util.Set(kFallbackListKey, std::wstring(enciphered.begin(), enciphered.end()));
    Make();
    EXPECT_FALSE(capture.Has(kProxyUnit, 21));
    util.Set(kFallbackListKey, std::get<0>(rows[1]));
    Make();
    EXPECT_TRUE(capture.Has(kProxyUnit, 21)); // plain JSON, said at verbose level
}

TEST_F(ProxyConfigTest, WithoutCollaboratorsInvalidOtherwiseAttachesItsList)
{
    comms.failProxyList = true;
    const auto noList = Make();
    EXPECT_FALSE(noList->IsValid());
    EXPECT_EQ(noList->GetProxyList(), nullptr);
    EXPECT_FALSE(CProxyConfig(nullptr, &comms, true).IsValid());
    EXPECT_FALSE(CProxyConfig(&util, nullptr, true).IsValid());
    EXPECT_TRUE(comms.lists.empty());
    EXPECT_TRUE(comms.configs.empty());
    CStubRequest request;
    CStubDataServiceClient client;
    noList->AttachToRequest(&request);
    noList->AttachToClient(&client);
    EXPECT_EQ(request.proxies, nullptr);
    EXPECT_EQ(client.proxies, nullptr);

    comms.failProxyList = false;
    const auto config = Make();
    config->AttachToRequest(&request);
    config->AttachToClient(&client);
    config->AttachToRequest(nullptr);
    EXPECT_NE(config->GetProxyList(), nullptr);
    EXPECT_EQ(request.proxies, config->GetProxyList());
    EXPECT_EQ(client.proxies, config->GetProxyList());
}

TEST_F(ProxyConfigTest, DevicePortIsAddedToPiecesWithoutOne)
{
    // A null port: the key cannot be read.
    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> rows[] = {
        {nullptr, L"a;b:8080", L"a:3128;b:8080"}, {L"8081", L"a;b", L"a:8081;b:8081"}, {L"", L"a", L"a:3128"},
        {nullptr, L"a;;b;", L"a:3128;;b:3128;"},  {nullptr, L"[::1]", L"[::1]"},
    };
    for (const auto& [port, in, out] : rows)
    {
        SCOPED_TRACE(in);
        CRecordingConfigUtil rowUtil;
        if (port != nullptr)
            rowUtil.Set(L"Proxy.Device.DefaultPort", port);
        EXPECT_EQ(CProxyConfig(&rowUtil, &comms, false).AddDefaultPort(in), out);
    }
}

TEST_F(ProxyConfigTest, LastUsedProxyComesFirstWhenAsked)
{
    util.Set(kFallbackListKey, LR"({"ProxyConfig":[{"source":"explicit","proxyList":"list:1"},{"source":"wpad"}]})");
    util.Set(kLastUsedKey, Stored(kUsedRecords[0]));
    {
        const auto config = Make(true);
        EXPECT_EQ(Routes(), (std::vector<std::wstring>{L"config 1|last:8080|lu|lp||0|1", L"explicit list:1   <null> 0",
                                                       L"auto 3 0"}));
        EXPECT_EQ(Describe(config->GetExplicitProxy()), L"1|last:8080|lu|lp||0|1");
        EXPECT_EQ(Describe(config->GetWpadProxy()), L"<none>"); // the wpad entry is not the first
    }
    {
        const auto config = Make(false);
        EXPECT_EQ(Routes().front(), L"explicit list:1   <null> 0");
        EXPECT_EQ(Describe(config->GetExplicitProxy()), L"1|list:1||||0|0");
    }
    util.Set(kLastUsedKey, LR"({"Mode":2,"WPADUrl":"http://w/p.pac","WPADAutoDetect":false,"Fallback":false})");
    util.Set(kFallbackListKey, LR"({"ProxyConfig":[{"source":"wpad"}]})");
    const auto config = Make(true);
    EXPECT_EQ(Describe(config->GetWpadProxy()), L"2||||http://w/p.pac|0|0");

    // A record that is not JSON is an error, and no route.
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
    util.Set(kLastUsedKey, LR"({"Mode":1,)");
    EXPECT_EQ((Make(true), Routes()), std::vector<std::wstring>{L"auto 3 0"});
    ASSERT_EQ(capture.Messages().size(), 1u);
    EXPECT_TRUE(capture.Has(kProxyUnit, 24));
    EXPECT_EQ(capture.Messages()[0].Wide(0), kLastUsedKey);
}

TEST_F(ProxyConfigTest, UsedProxyIsWrittenOnlyWhenItChanges)
{
    const auto config = Make();
    CFakeProxyConfig proxy;
    proxy.mode = kProxyModeExplicit;
    proxy.proxyList = L"p:1";

    EXPECT_FALSE(config->SetProxyConfigUsed(nullptr, false)); // nothing stored, nothing to remove
    EXPECT_TRUE(config->SetProxyConfigUsed(&proxy, false));
    EXPECT_FALSE(config->SetProxyConfigUsed(&proxy, false));
    EXPECT_EQ(util.writes, 1);
    EXPECT_EQ(util.Read(kLastUsedKey), LR"({"Mode":1,"ProxyList":"p:1","WPADAutoDetect":false,"Fallback":false})");

    proxy.fallback = true; // equal routes, but the fallback flag differs
    EXPECT_TRUE(config->SetProxyConfigUsed(&proxy, false));
    EXPECT_EQ(util.writes, 2);

    EXPECT_TRUE(config->SetProxyConfigUsed(&proxy, true));
    EXPECT_EQ(util.writes, 3);
    EXPECT_EQ(Describe(config->GetProxyConfigUsed(true)), L"1|p:1||||0|1");

    EXPECT_TRUE(config->SetProxyConfigUsed(nullptr, false));
    EXPECT_EQ(util.Read(kLastUsedKey), L"<absent>");
    EXPECT_NE(util.Read(kAlternativeKey), L"<absent>");
    EXPECT_EQ(config->GetProxyConfigUsed(false), nullptr);
    EXPECT_FALSE(config->SetProxyConfigUsed(nullptr, false));

    // A record the store refuses to keep or to remove: an error each.
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
    util.refusal = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(config->SetProxyConfigUsed(&proxy, false));
    EXPECT_FALSE(config->SetProxyConfigUsed(nullptr, true));
    EXPECT_NE(util.Read(kAlternativeKey), L"<absent>");
    for (const ULONG number : {18u, 20u})
        EXPECT_TRUE(capture.Has(kProxyUnit, number)) << number;
}

TEST_F(CertificateTrustTest, EnabledOnlyFromABoolean)
{
    // A null settings text: the key is absent; the last is not JSON.
    const std::pair<const wchar_t*, bool> rows[] = {
        {nullptr, true},
        {LR"({"Enabled":false})", false},
        {LR"({"Enabled":true})", true},
        {LR"({"Enabled":"false"})", true},
        {LR"({"Enabled":0})", true},
        {LR"({"Enabled":null})", true},
        {LR"({"Enabled":false)", true},
    };
    for (const auto& [settings, enabled] : rows)
    {
        SCOPED_TRACE(settings != nullptr ? settings : L"<absent>");
        if (settings != nullptr)
            util.Set(kTrustSettingsKey, settings);
        const CCertificateTrustworthinessConfig config(&comms, &util);
        EXPECT_TRUE(config.IsValid());
        const CFakeTrust& trust = *comms.trusts.back();
        EXPECT_EQ(config.GetTrustHandle(), &trust);
        EXPECT_EQ(trust.enabledCalls, std::vector<bool>{enabled});
        EXPECT_TRUE(trust.added.empty());
    }
}

TEST_F(CertificateTrustTest, RulesOnlyFromAnObjectInCodeUnitOrderAndTrustAttached)
{
    const std::tuple<std::string, Added, bool> rows[] = {
        {kTrustRules[0], {{L"B", {L"k1"}}, {L"a", {L"o1"}}, {L"b.example", {L"c1", L"c2"}}, {L"empty", {}}}, true},
        {kTrustRules[1], {}, false}};
    for (const auto& [settings, added, enabled] : rows)
    {
        SCOPED_TRACE(settings);
        util.Set(kTrustSettingsKey, Stored(settings));
        CCertificateTrustworthinessConfig config(&comms, &util);
        EXPECT_EQ(comms.trusts.back()->added, added);
        EXPECT_EQ(comms.trusts.back()->enabledCalls, std::vector<bool>{enabled});
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
    util.Set(kTrustSettingsKey, Stored(kTrustRules[0]));
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
                                [&](const CapturedTrace& m) { return m.unit == kAttachUnit && m.number == number; }),
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

TEST(NetworkSettingsFuzzTest, ProxyFallbackList)
{
    const std::vector<std::string> seeds = {
        R"({"ProxyConfig":[{"source":"explicit","proxyList":"p1;p2:8080","user":"u","password":"pw","fallback":true},)"
        R"({"source":"wpad","PacFileUrl":"http://cfg/p.pac"},{"source":"ie"}]})",
        R"({"ProxyConfig":[{"source":"explicit","proxyList":"p1;;p2:8080","DeviceId":"other-agent"},)"
        R"({"source":"explicit","proxyList":"me","DeviceId":"6F1C2A8E-AGENT-OWN","fallback":true}]})",
        R"({"ProxyConfig":["text",7,{"source":"wpad"},{"source":"winhttp"},{"source":"direct","fallback":false}]})",
    };
    const CDigestProviders providers; // keeps the provider's library loaded for the enciphered lists
    CAESCypher cypher;
    CFuzzRun run("proxy fallback list");
    run.ForEachInput([&](int n) {
        const std::string list = run.Json(seeds);
        std::string enciphered;
        CFakeConfigUtil util;
        CFakeComms comms;
        util.Set(L"Register.Register.DeviceId", L"6f1c2a8e-Agent-Own");
        util.Set(L"Proxy.Default.FallbackList",
                 n % 100 == 0 && cypher.EncryptToBase64(list, enciphered) ? Stored(enciphered) : Stored(list));
        if (n % 4 == 0)
            util.Set(kLastUsedKey, Stored(MutateJson(kUsedRecords[n % kUsedRecords.size()], run.Random())));
        {
            CProxyConfig config(&util, &comms, n % 2 == 0);
            const auto& routes = comms.lists.back()->routes;
            run.Outcome(std::to_string(std::min<size_t>(routes.size(), 5)) + " routes, " +
                        (config.GetExplicitProxy() != nullptr ? "explicit " : "") +
                        (config.GetWpadProxy() != nullptr ? "wpad" : ""));
            run.Expect(config.IsValid() && !routes.empty(), "no route from a list that accepts every route");

            // The proxy recorded as used reads back as it was.
            ICommsProxyConfig* proxy =
                config.GetExplicitProxy() != nullptr ? config.GetExplicitProxy() : config.GetWpadProxy();
            if (proxy != nullptr && config.SetProxyConfigUsed(proxy, false))
                run.Expect(Describe(config.GetProxyConfigUsed(false)) == Describe(proxy),
                           "the recorded proxy reads back differently");
        }
        run.Expect(comms.Outstanding() == 0 && comms.BadReleases() == 0 && util.Outstanding() == 0,
                   "an object or value taken was not given back");
    });
    run.ExpectClean(6);
}

TEST(NetworkSettingsFuzzTest, UsedProxyRecord)
{
    CFuzzRun run("used-proxy record");
    run.ForEachInput([&](int) {
        const std::wstring text = Stored(run.Json(kUsedRecords));
        UsedProxyRecord record;
        record.proxyList = L"untouched";
        if (!record.FromJson(text))
        {
            run.Outcome("refused");
            run.Expect(record.proxyList == L"untouched" && record.mode == 0, "a refused text changed the record");
            return;
        }
        run.Outcome(std::to_string(record.mode) + (record.fallback ? " fallback" : "") +
                    (record.wpadAutoDetect ? " auto" : "") + (record.password.empty() ? "" : " password"));
        std::wstring written;
        UsedProxyRecord again;
        if (!record.ToJson(written))
            return; // a text the writer cannot put as JSON (a lone surrogate) is simply not recorded
        run.Expect(again.FromJson(written) && again.mode == record.mode && again.proxyList == record.proxyList &&
                       again.username == record.username && again.password == record.password &&
                       again.wpadUrl == record.wpadUrl && again.wpadAutoDetect == record.wpadAutoDetect &&
                       again.fallback == record.fallback,
                   "the record written back reads differently");
    });
    run.ExpectClean(6);
}

TEST(NetworkSettingsFuzzTest, CertificateTrust)
{
    CFuzzRun run("certificate trust");
    run.ForEachInput([&](int) {
        CFakeConfigUtil util;
        CFakeComms comms;
        util.Set(kTrustSettingsKey, Stored(run.Json(kTrustRules)));
        {
            const CCertificateTrustworthinessConfig config(&comms, &util);
            const CFakeTrust& trust = *comms.trusts.back();
            run.Outcome(std::to_string(trust.enabledCalls.size() == 1 && trust.enabledCalls[0]) + " " +
                        std::to_string(std::min<size_t>(trust.added.size(), 4)));
            run.Expect(config.IsValid() && trust.enabledCalls.size() == 1, "the trust was not set exactly once");
            for (size_t i = 0; i < trust.added.size(); ++i)
            {
                const auto& certificates = trust.added[i].second;
                run.Expect(i == 0 || trust.added[i - 1].first < trust.added[i].first,
                           "domains not added once each in ascending order");
                run.Expect(std::none_of(certificates.begin(), certificates.end(),
                                        [](const std::wstring& c) { return c.empty(); }),
                           "an empty certificate was trusted");
            }
        }
        run.Expect(comms.Outstanding() == 0 && comms.BadReleases() == 0 && util.Outstanding() == 0,
                   "an object or value taken was not given back");
    });
    run.ExpectClean(5);
}
