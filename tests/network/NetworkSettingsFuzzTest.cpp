// The readers of the network settings in the configuration (proxy fallback list, used-proxy record,
// certificate trust), fed seeded mutations of the settings the other suites use. Fuzz.h says what each case
// checks and how to run it longer.

#include "CFakeComms.h"
#include "CFakeConfigUtil.h"
#include "Fuzz.h"

#include "comms/CAESCypher.h"
#include "network/CCertificateTrustworthinessConfig.h"
#include "network/CProxyConfig.h"
#include "network/UsedProxyRecord.h"
#include "platform/Digest.h"
#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace
{

constexpr wchar_t kLastUsedKey[] = L"Proxy.Default.LastProxyConfigUsed";

// The configuration holds text: the mutated bytes as UTF-8, NULs and all.
std::wstring Stored(const std::string& utf8)
{
    std::wstring text;
    return BytesToWide(utf8.data(), utf8.size(), text, CP_UTF8) ? text : std::wstring();
}

const std::vector<std::string> kUsedRecords = {
    R"({"Mode":1,"ProxyList":"last:8080","Username":"lu","Password":"lp","WPADAutoDetect":false,"Fallback":true})",
    R"({"Mode":2,"ProxyList":"p","Username":"u","Password":"pw","WPADUrl":"http://w","WPADAutoDetect":true})",
    R"({"Mode":0,"WPADAutoDetect":false,"Fallback":true})",
};

std::wstring Describe(const ICommsProxyConfig* config)
{
    return config != nullptr ? static_cast<const CFakeProxyConfig*>(config)->Describe() : L"<none>";
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
    const CDigestProviders providers;   // keeps the provider's library loaded for the enciphered lists
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
    const std::vector<std::string> seeds = {
        R"({"Enabled":true,"TrustedCertificatesByDomain":{"b.example":["c1","",5,null,"c2"],"text":"c3","B":["k1"],)"
        R"("a":{"first":"o1","second":7},"empty":[]}})",
        R"({"Enabled":false,"TrustedCertificatesByDomain":[["x"],{"d":["y"]}]})",
    };
    CFuzzRun run("certificate trust");
    run.ForEachInput([&](int) {
        CFakeConfigUtil util;
        CFakeComms comms;
        util.Set(L"Communications.CertificateTrustworthiness.Settings", Stored(run.Json(seeds)));
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
