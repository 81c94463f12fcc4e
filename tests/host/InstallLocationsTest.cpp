#include "CAgentInstall.h"

#include "host/InstallLocations.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{
constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr wchar_t kAgentEntry[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Korvo Velnor Agent";
constexpr wchar_t kProductCode[] = L"{6A1D1F0C-51B4-4C2E-9C1A-3C0E5E7F9D01}";
constexpr wchar_t kLegacySoftware[] = L"SOFTWARE\\Korvo Software\\Setup";
constexpr wchar_t kLegacySecurity[] = L"SOFTWARE\\Korvo Security\\Setup";

bool WriteText(const std::wstring& keyPath, const wchar_t* name, const std::wstring& text)
{
    return WriteRegistryText(HKEY_LOCAL_MACHINE, keyPath.c_str(), name, text) == ERROR_SUCCESS;
}

bool WriteDword(const wchar_t* keyPath, const wchar_t* name, DWORD value)
{
    return WriteRegistryValue(HKEY_LOCAL_MACHINE, keyPath, name, REG_DWORD, &value, sizeof(value)) == ERROR_SUCCESS;
}

// The uninstall entries and legacy product keys are machine state beside the setup key: every test starts and
// ends without them.
class InstallLocationsTest : public ::testing::Test
{
protected:
    InstallLocationsTest() { RemoveOtherKeys(); }
    ~InstallLocationsTest() override { RemoveOtherKeys(); }

    static void RemoveOtherKeys()
    {
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kAgentEntry);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(kUninstall) + kProductCode).c_str());
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLegacySoftware);
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLegacySecurity);
    }

    CAgentInstall m_install;
};
} // namespace

TEST_F(InstallLocationsTest, FoldersEndInOneBackslashWhetherOrNotPathHasOne)
{
    using Getter = bool (*)(std::wstring&);
    const struct
    {
        Getter get;
        const wchar_t* suffix;
    } folders[] = {{GetInstallFolder, L""}, {GetUtilsFolder, L"Utils\\"}, {GetPluginsFolder, L"Plugins\\"},
                   {GetAdditionalFilesFolder, L"Additional files\\"}, {GetRepositoryFolder, L"Repository\\"}};
    // Without a usable "Path" (empty, none) every one fails and leaves its output alone.
    for (const wchar_t* path : {L"C:\\Agent", L"C:\\Agent\\", L"", static_cast<const wchar_t*>(nullptr)})
    {
        ASSERT_TRUE(path ? m_install.SetSetupValue(L"Path", path) : m_install.RemoveSetupValue(L"Path"));
        const bool usable = path && *path;
        for (const auto& folder : folders)
        {
            SCOPED_TRACE(testing::Message() << "Path " << (path ? path : L"none") << ", folder " << folder.suffix);
            std::wstring out = L"kept";
            EXPECT_EQ(usable, folder.get(out));
            EXPECT_EQ(usable ? std::wstring(L"C:\\Agent\\") + folder.suffix : L"kept", out);
        }
    }
}

TEST_F(InstallLocationsTest, ThreePartVersionsGainFourthPart)
{
    const struct
    {
        const wchar_t* stored;
        const wchar_t* expected;
    } rows[] = {{L"1.2.3", L"1.2.3.0000"}, {L"1.2.3.4", L"1.2.3.4"}, {L"1.2", L"1.2"}, {L"7", L"7"},
                {nullptr, nullptr}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(testing::Message() << (row.stored ? row.stored : L"none"));
        ASSERT_TRUE(row.stored ? m_install.SetSetupValue(L"Normal", row.stored)
                               : m_install.RemoveSetupValue(L"Normal"));
        std::wstring out = L"kept";
        EXPECT_EQ(row.expected != nullptr, GetAgentVersion(out));
        EXPECT_EQ(row.expected ? row.expected : L"kept", out);
    }
}

TEST_F(InstallLocationsTest, DisplayNameFallsBackAlongItsChain)
{
    const struct
    {
        const char* name;
        const wchar_t* agentEntry;     // DisplayName of "Korvo Velnor Agent", null for none
        const wchar_t* codeEntry;      // DisplayName of the entry named by ProductCodeMSI, null for none
        const wchar_t* productName;    // LProductName, null for none
        const wchar_t* expected;
    } rows[] = {
        {"agent entry first", L"Entry Name", L"Code Name", L"Setup Name", L"Entry Name"},
        {"then product code entry", nullptr, L"Code Name", L"Setup Name", L"Code Name"},
        {"then LProductName", nullptr, nullptr, L"Setup Name", L"Setup Name"},
        {"empty names are skipped", L"", L"", L"Setup Name", L"Setup Name"},
        {"last resort", nullptr, nullptr, nullptr, L"Korvo Endpoint Agent"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        RemoveOtherKeys();
        m_install.RemoveSetupValue(L"ProductCodeMSI");
        m_install.RemoveSetupValue(L"LProductName");
        if (row.agentEntry)
        {
            ASSERT_TRUE(WriteText(kAgentEntry, L"DisplayName", row.agentEntry));
        }
        if (row.codeEntry)
        {
            ASSERT_TRUE(m_install.SetSetupValue(L"ProductCodeMSI", kProductCode));
            ASSERT_TRUE(WriteText(std::wstring(kUninstall) + kProductCode, L"DisplayName", row.codeEntry));
        }
        if (row.productName)
        {
            ASSERT_TRUE(m_install.SetSetupValue(L"LProductName", row.productName));
        }
        std::wstring out = L"before";
        GetProductDisplayName(out);
        EXPECT_EQ(row.expected, out);
    }
}

TEST_F(InstallLocationsTest, DataFoldersUseSetupNamesOrDefaults)
{
    std::wstring common;
    ASSERT_TRUE(GetCommonDataFolder(common));
    ASSERT_FALSE(common.empty());
    EXPECT_EQ(L'\\', common.back());
    EXPECT_NE(L'\\', common[common.size() - 2]);

    const auto expectFolders = [&](const wchar_t* company, const wchar_t* agent) {
        std::wstring out;
        EXPECT_TRUE(GetCompanyDataFolder(out));
        EXPECT_EQ(common + company, out);
        EXPECT_TRUE(GetAgentDataFolder(out));
        EXPECT_EQ(common + agent, out);
    };
    expectFolders(L"Korvo Security\\", L"Korvo Security\\Korvo Endpoint Agent\\");
    ASSERT_TRUE(m_install.SetSetupValue(L"LProductName", L"Setup Name"));
    expectFolders(L"Korvo Security\\", L"Korvo Security\\Setup Name\\");
    ASSERT_TRUE(m_install.SetSetupValue(L"InitialCompanyName", L"Company"));
    ASSERT_TRUE(m_install.SetSetupValue(L"InitialProductName", L"Product"));
    expectFolders(L"Company\\", L"Company\\Product\\");
}

TEST_F(InstallLocationsTest, LegacyVersionOnlyForAllowedProducts)
{
    DWORD id = 77;
    std::wstring version = L"kept";
    EXPECT_FALSE(GetMainProductId(id));
    EXPECT_EQ(77u, id);
    EXPECT_FALSE(GetLegacyProductVersion(version, {}));

    // The identifier may sit under the second key only, the version under the first.
    ASSERT_TRUE(WriteDword(kLegacySecurity, L"MainProductID", 42));
    ASSERT_TRUE(WriteText(kLegacySoftware, L"Normal", L"3.1.4"));
    EXPECT_TRUE(GetMainProductId(id));
    EXPECT_EQ(42u, id);

    const struct
    {
        const char* name;
        std::vector<DWORD> allowed;
        bool accepted;
    } rows[] = {{"any product", {}, true}, {"listed", {7, 42}, true}, {"not listed", {7, 8}, false}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        version = L"kept";
        EXPECT_EQ(row.accepted, GetLegacyProductVersion(version, row.allowed));
        EXPECT_EQ(row.accepted ? L"3.1.4.0000" : L"kept", version);
    }

    // The first key wins when it holds the identifier; its version missing falls back to the second key.
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLegacySoftware);
    ASSERT_TRUE(WriteDword(kLegacySoftware, L"MainProductID", 9));
    ASSERT_TRUE(WriteText(kLegacySecurity, L"Normal", L"2.0"));
    EXPECT_TRUE(GetMainProductId(id));
    EXPECT_EQ(9u, id);
    EXPECT_TRUE(GetLegacyProductVersion(version, {9}));
    EXPECT_EQ(L"2.0", version);
}
