#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "TraceCapture.h"

#include "host/CConfigHelper.h"
#include "host/CConfigReader.h"
#include "host/CServiceSettings.h"
#include "host/InstallLocations.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace
{

constexpr GUID kHelperUnit = trace::ParseGuid("d92fd70b-a838-419b-9f5d-5ad0cdecf4b3");
constexpr GUID kLocationsUnit = trace::ParseGuid("98a80af4-0768-421f-9b5a-63364ab8c3a7");

using Getter = std::wstring (CServiceSettings::*)() const;
const struct
{
    Getter get;
    const wchar_t* setting;
} kGetters[] = {
    {&CServiceSettings::GetHostname, L"Hostname"},
    {&CServiceSettings::GetProduct, L"Product"},
    {&CServiceSettings::GetProductVersion, L"ProductVersion"},
    {&CServiceSettings::GetDeviceId, L"DeviceId"},
    {&CServiceSettings::GetSiteId, L"SiteId"},
    {&CServiceSettings::GetType, L"Type"},
    {&CServiceSettings::GetService, L"Service"},
    {&CServiceSettings::GetContainer, L"Container"},
    {&CServiceSettings::GetUserAgent, L"User-Agent"},
    {&CServiceSettings::GetPathPrefix, L"PathPrefix"},
};

// What make() throws std::invalid_argument with; empty when it does not throw.
template <class Make>
std::string InvalidArgumentText(Make make)
{
    try
    {
        make();
    }
    catch (const std::invalid_argument& error)
    {
        return error.what();
    }
    return {};
}

} // namespace

TEST(CServiceSettingsTest, ServiceEntryThenDefaultsThenEmpty)
{
    const struct
    {
        const char* name;
        const wchar_t *service, *defaults, *expected;
    } rows[] = {
        {"service wins", L"svc.example", L"def.example", L"svc.example"},
        {"empty service value falls back", L"", L"def.example", L"def.example"},
        {"absent service value falls back", nullptr, L"def.example", L"def.example"},
        {"both absent", nullptr, nullptr, L""},
    };
    for (const auto& row : rows)
    {
        for (const auto& getter : kGetters)
        {
            SCOPED_TRACE(testing::Message() << row.name << ", " << getter.setting);
            CFakeConfigUtil util;
            if (row.service)
                util.Set(std::wstring(L"Services.FileUpload.") + getter.setting, row.service);
            if (row.defaults)
                util.Set(std::wstring(L"Services.Defaults.") + getter.setting, row.defaults);
            // Another service's value must not leak in.
            util.Set(std::wstring(L"Services.Other.") + getter.setting, L"other");
            const CServiceSettings settings(&util, L"FileUpload");
            EXPECT_EQ(row.expected, (settings.*getter.get)());
            EXPECT_EQ(0, util.Outstanding());
        }
    }
}

TEST(CServiceSettingsTest, EmptyServiceNameNeverAsksAndNullUtilThrows)
{
    CFakeConfigUtil util;
    util.Set(L"Services.Defaults.Hostname", L"def.example");
    util.Set(L"Services..Hostname", L"odd");
    const CServiceSettings settings(&util, L"");
    for (const auto& getter : kGetters)
        EXPECT_EQ(L"", (settings.*getter.get)()) << getter.setting;
    EXPECT_EQ(0, util.Calls());
    EXPECT_EQ("configUtil is nullptr", InvalidArgumentText([] { CServiceSettings(nullptr, L"FileUpload"); }));
}

TEST(RegistrationTest, EmptyOrMissingValuesFailAndAreTraced)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
    using Reader = bool (*)(std::wstring&, IConfigUtil*);
    const struct
    {
        Reader read;
        const wchar_t* key;
    } readers[] = {
        {GetRegisteredDeviceId, L"Register.Register.DeviceId"},
        {GetRegisteredSiteId, L"Register.Register.SiteId"},
    };
    for (const auto& reader : readers)
    {
        for (const wchar_t* stored : {L"device-1", L"", static_cast<const wchar_t*>(nullptr)})
        {
            SCOPED_TRACE(testing::Message() << (stored ? stored : L"absent") << " " << reader.key);
            const bool ok = stored != nullptr && *stored != L'\0';
            capture.Clear();
            CFakeConfigUtil util;
            if (stored)
                util.Set(reader.key, stored);
            std::wstring out = L"kept";
            EXPECT_EQ(ok, reader.read(out, &util));
            EXPECT_EQ(ok ? stored : L"kept", out);
            EXPECT_EQ(!ok, capture.Has(kLocationsUnit, 10));
            EXPECT_EQ(0, util.Outstanding());
        }
    }
}

// Tamsin.dll loaded through the module's helper from a throw-away install. The helper starts over for each
// test and lets go of the library before the install folder is removed.
class ConfigComponentTest : public ::testing::Test
{
protected:
    void SetUp() override { CConfigHelper::Instance().Release(); }
    void TearDown() override { CConfigHelper::Instance().Release(); }

    IConfigUtil* Load()
    {
        EXPECT_TRUE(m_install.Add(L"Tamsin.dll", L"Utils"));
        IConfigUtil* util = CConfigHelper::Instance().GetConfigUtil();
        EXPECT_NE(nullptr, util);
        return util;
    }

    CAgentInstall m_install;
};

TEST_F(ConfigComponentTest, MissingOrIncompleteLibraryFailsAndIsTriedAgain)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
    EXPECT_EQ(nullptr, CConfigHelper::Instance().GetConfigUtil());
    ASSERT_EQ(1u, capture.Messages().size());
    EXPECT_TRUE(capture.Has(kHelperUnit, 10));
    EXPECT_EQ(L"Tamsin.dll", capture.Messages()[0].Wide(0));
    EXPECT_EQ(m_install.Folder() + L"Utils\\", capture.Messages()[0].Wide(1));
    EXPECT_NE(0u, capture.Messages()[0].Number(2));

    EXPECT_EQ("ConfigUtil", InvalidArgumentText([] { CConfigReader{}; }));
    EXPECT_EQ(nullptr, CConfigHelper::Resolve(nullptr)); // no utility, and no exception either
    std::wstring text = L"kept";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_NOT_FOUND), ReadConfigValue(L"Register.Agent.TestMode", text, nullptr));
    int mode = 5;
    EXPECT_FALSE(GetTestMode(mode));
    EXPECT_EQ(5, mode);
    EXPECT_EQ(L"kept", text);

    // Every call tries again; a library without the export is loaded once, and freed when the helper lets go.
    capture.Clear();
    ASSERT_TRUE(m_install.Add(L"Ostrel.dll", L"Utils", L"Tamsin.dll"));
    const std::wstring path = m_install.Folder() + L"Utils\\Tamsin.dll";
    EXPECT_EQ(nullptr, CConfigHelper::Instance().GetConfigUtil());
    EXPECT_TRUE(capture.Has(kHelperUnit, 11));
    EXPECT_NE(nullptr, ::GetModuleHandleW(path.c_str()));
    capture.Clear();
    EXPECT_EQ(nullptr, CConfigHelper::Instance().GetConfigUtil());
    EXPECT_TRUE(capture.Messages().empty());
    CConfigHelper::Instance().Release();
    EXPECT_EQ(nullptr, ::GetModuleHandleW(path.c_str()));

    // One that gives no utility is traced once: it stays loaded until released, so it is not asked again.
    ASSERT_TRUE(m_install.Add(L"loadertest_nullget.dll", L"Utils", L"Tamsin.dll"));
    EXPECT_EQ(nullptr, CConfigHelper::Instance().GetConfigUtil());
    EXPECT_EQ(nullptr, CConfigHelper::Instance().GetConfigUtil());
    EXPECT_EQ(1u, capture.Count(kHelperUnit, 12));
    CConfigHelper::Instance().Release();
    capture.Clear();

    // Once the library is there it loads, and that load sticks.
    IConfigUtil* util = Load();
    EXPECT_TRUE(capture.Messages().empty());
    EXPECT_EQ(util, CConfigHelper::Instance().GetConfigUtil());
    EXPECT_EQ("", InvalidArgumentText([] { CConfigReader{}; }));
    EXPECT_EQ(util, CConfigHelper::Resolve(nullptr));
    CFakeConfigUtil given;
    EXPECT_EQ(&given, CConfigHelper::Resolve(&given));
}
