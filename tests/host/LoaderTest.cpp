#include "CAgentInstall.h"
#include "ModuleExport.h"
#include "TestFiles.h"
#include "TraceCapture.h"

#include "host/CAgentServiceClient.h"
#include "host/CAgentServiceProvider.h"
#include "host/CCommsWrapperLoader.h"
#include "host/CCompressionHelper.h"
#include "host/CLoader.h"
#include "host/CLogServiceLoader.h"
#include "host/CLogWriter.h"
#include "host/CNetworkService.h"
#include "host/CRepositoryManagerLoader.h"
#include "host/CSystemInfoMng.h"
#include "platform/COperatingSystem.h"
#include "platform/CUniqueHandle.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>
#include <tuple>
#include <utility>

namespace
{

constexpr GUID kLoaderUnit = trace::ParseGuid("fd18a8b2-5d58-4979-a9c7-d3079d576549");
constexpr GUID kLogServiceUnit = trace::ParseGuid("b246dc37-c29d-43b1-a4da-4f02502b1466");
constexpr GUID kCompressionUnit = trace::ParseGuid("069d6423-8cec-4ee6-935c-251cc550aa44");
constexpr GUID kAgentServicesUnit = trace::ParseGuid("0fb3a5c9-5381-443a-8699-03187d6abfb0");
constexpr GUID kSystemInfoUnit = trace::ParseGuid("929794ad-2de6-4838-ac68-3fa380f65ad7");

constexpr wchar_t kFullDll[] = L"loadertest_full.dll";
constexpr wchar_t kNoGetDll[] = L"loadertest_noget.dll";
constexpr wchar_t kNullGetDll[] = L"loadertest_nullget.dll";

// The calls to one export that loadertest_full.dll counted (in the process environment) while `action` ran.
template <typename Action>
unsigned long CallsDuring(const std::wstring& counter, Action action)
{
    const std::wstring name = L"LOADERTEST_" + counter;
    ::SetEnvironmentVariableW(name.c_str(), nullptr);
    action();
    wchar_t value[16] = {};
    const DWORD length = ::GetEnvironmentVariableW(name.c_str(), value, 16);
    return length > 0 && length < 16 ? std::wcstoul(value, nullptr, 10) : 0;
}

class LoaderTest : public ::testing::Test
{
protected:
    std::wstring Utils() const { return m_install.Folder() + L"Utils\\"; }

    CAgentInstall m_install;
};

} // namespace

// Every library named here also sits beside this test program, first in the DLL search order: a load by bare
// name would take it.
TEST(ComponentLibraryTest, NoFullFolderNoLoad)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagGeneral);
    for (const wchar_t* folder : {L"", L"Utils\\", L"utils\\", L".\\", L"\\", L"C:", L"C:x\\", L"\\\\\\server"})
    {
        SCOPED_TRACE(folder);
        ::SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(LoadComponentLibrary(folder, L"Anvara.dll"));
        EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_NOT_FOUND), ::GetLastError());
    }
    CLoader loader;
    EXPECT_FALSE(loader.Load(L"Anvara.dll", std::wstring()));
    EXPECT_FALSE(CSystemInfoMng(L"").Load());
    EXPECT_FALSE(CCommsWrapperLoader(L"").Load());
    EXPECT_FALSE(CCompressionHelper(L"").HasGetCompression());
    for (const wchar_t* library : {L"Anvara.dll", L"Quillon.dll", L"QuillonLC.dll", L"Tamsin.dll"})
        EXPECT_FALSE(IsLoaded(library)) << library;
    EXPECT_EQ(12u, capture.Count(kLoaderUnit, 19));
}

TEST_F(LoaderTest, LoadsAreCountedAndTheLastUnloadOrTheDestructorFreesTheLibrary)
{
    ASSERT_TRUE(m_install.Add(kFullDll, L"Utils", L"LoaderA.dll"));
    {
        CLoader loader(m_install.Folder() + L"Utils");
        EXPECT_EQ(Utils(), loader.GetFolder());
        ASSERT_TRUE(loader.Load(L"LoaderA.dll", L""));
        EXPECT_TRUE(IsLoaded(L"LoaderA.dll"));
        // A second load only counts up, whatever it names.
        EXPECT_TRUE(loader.Load(L"Other.dll", L""));
        EXPECT_EQ(2u, loader.LoadCount());
        EXPECT_EQ(L"LoaderA.dll", loader.GetModuleName());

        loader.Unload();
        EXPECT_TRUE(IsLoaded(L"LoaderA.dll"));
        EXPECT_NE(nullptr, loader.GetProc("LoaderTestPresent"));
        loader.Unload();
        EXPECT_FALSE(IsLoaded(L"LoaderA.dll"));
        EXPECT_EQ(nullptr, loader.GetProc("LoaderTestPresent"));
        loader.Unload();
        EXPECT_EQ(0u, loader.LoadCount());

        // Whatever its count, a destroyed loader frees its library.
        ASSERT_TRUE(loader.Load(L"LoaderA.dll", L""));
        ASSERT_TRUE(loader.Load(L"LoaderA.dll", L""));
    }
    EXPECT_FALSE(IsLoaded(L"LoaderA.dll"));
}

TEST_F(LoaderTest, FailedLoadChangesNothingAndMissingExportIsTracedEveryTime)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelVerbose, kTraceFlagGeneral);
    CLoader loader(Utils());
    EXPECT_FALSE(loader.Load(L"LoaderA.dll", m_install.Folder() + L"Plugins"));
    EXPECT_EQ(1u, capture.Count(kLoaderUnit, 10));
    EXPECT_EQ(Utils(), loader.GetFolder());
    EXPECT_EQ(L"", loader.GetModuleName());
    EXPECT_EQ(0u, loader.LoadCount());

    // Another folder given to Load replaces the constructor's.
    ASSERT_TRUE(m_install.Add(kFullDll, L"Plugins", L"LoaderA.dll"));
    ASSERT_TRUE(loader.Load(L"LoaderA.dll", m_install.Folder() + L"Plugins"));
    EXPECT_EQ(m_install.Folder() + L"Plugins\\", loader.GetFolder());

    EXPECT_EQ(nullptr, loader.GetProc("LoaderTestAbsent"));
    EXPECT_FALSE(loader.HasProc("LoaderTestAbsent"));
    EXPECT_EQ(2u, capture.Count(kLoaderUnit, 14));
    // A present one is resolved once.
    void* first = loader.GetProc("LoaderTestPresent");
    ASSERT_NE(nullptr, first);
    EXPECT_TRUE(loader.HasProc("LoaderTestPresent"));
    EXPECT_EQ(first, loader.GetProc("LoaderTestPresent"));
    EXPECT_EQ(42, reinterpret_cast<int (*)()>(first)());
    EXPECT_EQ(1u, capture.Count(kLoaderUnit, 15));

    // A library loaded again may sit elsewhere: nothing cached survives the unload.
    loader.Unload();
    ASSERT_TRUE(loader.Load(L"LoaderA.dll", L""));
    EXPECT_NE(nullptr, loader.GetProc("LoaderTestPresent"));
    EXPECT_EQ(2u, capture.Count(kLoaderUnit, 15));
}

TEST_F(LoaderTest, FailedInstanceLoadLeavesNothingBehindAndIsRetried)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagGeneral);
    {
        CSystemInfoMng info(Utils());
        EXPECT_FALSE(info.Load());
        EXPECT_EQ(nullptr, info.GetHardware());

        ASSERT_TRUE(m_install.Add(kFullDll, L"Utils", L"Anvara.dll"));
        ASSERT_TRUE(info.Load());
        IHardware* hardware = info.GetHardware();
        EXPECT_NE(nullptr, hardware);
        EXPECT_EQ(1ul, CallsDuring(L"HARDWARE_FREE", [&] { info.FreeHardware(&hardware); }));
        EXPECT_EQ(nullptr, hardware);
    }
    EXPECT_FALSE(IsLoaded(L"Anvara.dll"));

    // A component without the export (traced by the loader), or handing out nothing: null, traced.
    for (const auto& [dll, unit, number] : {std::tuple{kNoGetDll, kLoaderUnit, 18}, {kNullGetDll, kSystemInfoUnit, 10}})
    {
        SCOPED_TRACE(dll);
        ASSERT_TRUE(m_install.Add(dll, L"Utils", L"Anvara.dll"));
        CSystemInfoMng info(Utils());
        ASSERT_TRUE(info.Load());
        EXPECT_EQ(nullptr, info.GetHardware());
        EXPECT_EQ(1u, capture.Count(unit, number));
    }
}

TEST_F(LoaderTest, InstanceWrappersReachTheirComponentsExports)
{
    for (const wchar_t* name : {L"Merrow.dll", L"Fenrik.dll"})
        ASSERT_TRUE(m_install.Add(kFullDll, L"Utils", name));
    {
        CNetworkService network(Utils());
        ASSERT_TRUE(network.Load());
        IRemoteEndpointControlClient* client = network.GetRemoteEndpointControlClient();
        EXPECT_NE(nullptr, client);
        EXPECT_EQ(1ul, CallsDuring(L"ENDPOINT_FREE", [&] { network.FreeRemoteEndpointControlClient(client); }));

        CRepositoryManagerLoader repository(Utils());
        EXPECT_TRUE(repository.IsAvailable());
        DWORD lowest = 7, highest = 7;
        EXPECT_FALSE(repository.GetSupportedApiVersions(lowest, highest));
        EXPECT_EQ(std::pair(0ul, 0ul), std::pair(lowest, highest));
        ASSERT_TRUE(repository.Load());
        EXPECT_TRUE(repository.GetSupportedApiVersions(lowest, highest));
        EXPECT_EQ(std::pair(1ul, 3ul), std::pair(lowest, highest));
        IRepositoryManager* manager = repository.GetRepositoryManager();
        EXPECT_NE(nullptr, manager);
        EXPECT_EQ(1ul, CallsDuring(L"REPOSITORY_FREE", [&] { repository.FreeRepositoryManager(manager); }));
    }
    for (const wchar_t* name : {L"Merrow.dll", L"Fenrik.dll"})
        EXPECT_FALSE(IsLoaded(name)) << name;
    EXPECT_FALSE(CRepositoryManagerLoader(m_install.Folder() + L"Plugins").IsAvailable());
}

TEST_F(LoaderTest, AgentServiceClientLoadsFromThePluginsFolderInItsConstructor)
{
    ASSERT_TRUE(m_install.RemoveSetupValue(L"Path"));
    {
        CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagGeneral);
        CAgentServiceClient noFolder;
        EXPECT_EQ(0u, noFolder.GetProvidersList(41));
        EXPECT_EQ(1u, capture.Count(kAgentServicesUnit, 10));
    }
    ASSERT_TRUE(m_install.SetSetupValue(L"Path", m_install.Folder()));
    {
        CAgentServiceClient missing;
        EXPECT_EQ(0u, missing.GetProvidersList(41));
        missing.FreeProvidersList(1, 2);
    }
    // A missing export is traced once by the library, not again by the client.
    ASSERT_TRUE(m_install.Add(kNoGetDll, L"Plugins", L"Pelter.dll"));
    {
        CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagGeneral);
        CAgentServiceClient lacking;
        EXPECT_EQ(0u, lacking.GetProvidersList(41));
        EXPECT_EQ(1u, capture.Count(kLoaderUnit, 18));
        EXPECT_EQ(0u, capture.Count(kAgentServicesUnit, 12));
    }
    ASSERT_TRUE(m_install.Add(kFullDll, L"Plugins", L"Pelter.dll"));
    {
        CAgentServiceClient client;
        EXPECT_TRUE(IsLoaded(L"Pelter.dll"));
        EXPECT_EQ(42u, client.GetProvidersList(41));
        EXPECT_EQ(1ul, CallsDuring(L"PROVIDERS_FREE", [&] { client.FreeProvidersList(1, 2); }));
    }
    EXPECT_FALSE(IsLoaded(L"Pelter.dll"));
}

TEST(LoaderProviderRecordTest, MessageRoundTripAndComparison)
{
    const CAgentServiceProvider provider(L"10.0.0.5", 8080);
    CMessageObject message;
    provider.ToMessage(message);
    std::wstring text;
    ASSERT_TRUE(message.Serialize(text));
    EXPECT_EQ(L"{\"Address\":\"10.0.0.5\",\"Port\":8080}", text);

    CAgentServiceProvider read;
    EXPECT_TRUE(read.FromMessage(message));
    EXPECT_TRUE(read.Equals(provider));
    EXPECT_FALSE(read.Equals(CAgentServiceProvider(L"10.0.0.5", 8081)));
    EXPECT_FALSE(read.Equals(CAgentServiceProvider(L"10.0.0.50", 8080)));

    // Items of the wrong type are not read.
    CMessageObject wrong;
    wrong.AddUInt32(L"Address", 1);
    wrong.AddString(L"Port", L"8080");
    EXPECT_FALSE(read.FromMessage(wrong));
    EXPECT_TRUE(read.Equals(provider));
    EXPECT_TRUE(read.IsUsable(wrong)); // a plain agent service takes any announcement
}

TEST(LoaderCommsChoiceTest, LegacyLibraryBeforeWindows81)
{
    for (const DWORD legacy : {kOsUnknown, kOsWindows7, kOsWindows8, kOsWindowsServer2012})
        EXPECT_STREQ(L"QuillonLC.dll", CommsLibraryName(legacy)) << legacy;
    for (const DWORD current : {kOsWindows81, kOsWindowsServer2012R2, kOsWindows11, kOsLater})
        EXPECT_STREQ(L"Quillon.dll", CommsLibraryName(current)) << current;
}

TEST_F(LoaderTest, CommsLibraryIsSharedUntilTheLastUserReleasesIt)
{
    const std::wstring library = CommsLibraryName(COperatingSystem().Info().osCode);
    {
        CCommsWrapperLoader missing(Utils());
        EXPECT_FALSE(missing.Load());
        EXPECT_EQ(nullptr, missing.GetCommsWrapper());
    }
    ASSERT_TRUE(m_install.Add(kFullDll, L"Utils", library));

    auto first = std::make_unique<CCommsWrapperLoader>(Utils());
    CCommsWrapperLoader second(Utils());
    EXPECT_EQ(nullptr, second.GetCommsWrapper()); // no use held yet
    ASSERT_TRUE(first->Load());
    ASSERT_TRUE(second.Load());
    ASSERT_TRUE(second.Load()); // holds one use only
    first.reset();
    EXPECT_TRUE(IsLoaded(library));

    ICommsWrapper* wrapper = second.GetCommsWrapper();
    ASSERT_NE(nullptr, wrapper);
    ICommsWrapper* none = nullptr;
    EXPECT_EQ(0ul, CallsDuring(L"COMMS_FREE", [&] {
                  second.FreeCommsWrapper(&none);
                  second.FreeCommsWrapper(nullptr);
              }));
    EXPECT_EQ(1ul, CallsDuring(L"COMMS_FREE", [&] { second.FreeCommsWrapper(&wrapper); }));
    EXPECT_EQ(nullptr, wrapper);

    second.Unload();
    EXPECT_FALSE(IsLoaded(library));
    EXPECT_EQ(nullptr, second.GetCommsWrapper());
}

TEST_F(LoaderTest, LogServiceIsSharedUntilTheLastLoaderIsDestroyed)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelInformation, kTraceFlagEvents);
    // A loader that could not get the component must not release another's use when it goes.
    auto failed = std::make_unique<CLogServiceLoader>();
    EXPECT_EQ(nullptr, GetILogService());

    ASSERT_TRUE(m_install.Add(kFullDll, L"Utils", L"Hollin.dll"));
    auto first = std::make_unique<CLogServiceLoader>();
    {
        CLogServiceLoader second;
        EXPECT_EQ(1u, capture.Count(kLogServiceUnit, 10));
        failed.reset();
        first.reset();
        EXPECT_TRUE(IsLoaded(L"Hollin.dll"));

        ILogService* service = GetILogService();
        ASSERT_NE(nullptr, service);
        EXPECT_EQ(1ul, CallsDuring(L"LOG_FREE", [&] { FreeILogService(&service); }));
        EXPECT_EQ(nullptr, service);
    }
    EXPECT_FALSE(IsLoaded(L"Hollin.dll"));
    EXPECT_EQ(nullptr, GetILogService());
}

TEST_F(LoaderTest, LogWriterBorrowsAGivenServiceAndOwnsAnObtainedOne)
{
    ASSERT_TRUE(m_install.Add(kFullDll, L"Utils", L"Hollin.dll"));
    struct CRecordingLog : ILogService
    {
        void Write(DWORD level, const wchar_t* text) override { lines.push_back(std::to_wstring(level) + L" " + text); }
        std::vector<std::wstring> lines;
    } given;
    {
        CLogWriter borrowing(&given);
        EXPECT_EQ(&given, borrowing.Service());
        EXPECT_FALSE(borrowing.OwnsService());
        EXPECT_FALSE(IsLoaded(L"Hollin.dll"));
        borrowing.Write(4, L"borrowed");
    }
    EXPECT_EQ(std::vector<std::wstring>{L"4 borrowed"}, given.lines);

    const auto owning = [] {
        CLogWriter writer;
        EXPECT_TRUE(writer.OwnsService());
        ASSERT_NE(nullptr, writer.Service());
        EXPECT_TRUE(IsLoaded(L"Hollin.dll"));
        EXPECT_EQ(1ul, CallsDuring(L"LOG_WRITE", [&] { writer.Write(4, L"owned"); }));
    };
    EXPECT_EQ(1ul, CallsDuring(L"LOG_FREE", owning));
    EXPECT_FALSE(IsLoaded(L"Hollin.dll"));
}

TEST_F(LoaderTest, CompressionHelperKeepsWhatItResolved)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelVerbose,
                          kTraceFlagCompression | kTraceFlagEvents);
    {
        CCompressionHelper missing(Utils());
        EXPECT_FALSE(missing.HasGetCompression());
        EXPECT_EQ(nullptr, missing.GetCompression(kArchiveZip));
        IDecompressor* nothing = nullptr;
        missing.FreeCompression(kArchiveZip, &nothing);
        EXPECT_EQ(1u, capture.Count(kCompressionUnit, 12));
    }
    ASSERT_TRUE(m_install.Add(kFullDll, L"Utils", L"Brevik.dll"));
    {
        CCompressionHelper helper(Utils());
        EXPECT_TRUE(IsLoaded(L"Brevik.dll"));
        IDecompressor* zip = helper.GetCompression(kArchiveZip);
        EXPECT_NE(nullptr, zip);
        EXPECT_EQ(nullptr, helper.GetCompression(kArchiveRar));
        EXPECT_EQ(1ul, CallsDuring(L"COMPRESSION_FREE", [&] { helper.FreeCompression(kArchiveZip, &zip); }));
        EXPECT_EQ(nullptr, zip);
    }
    EXPECT_FALSE(IsLoaded(L"Brevik.dll"));
    EXPECT_EQ(2u, capture.Count(kCompressionUnit, 11));
    EXPECT_EQ(2u, capture.Count(kCompressionUnit, 15));
}
