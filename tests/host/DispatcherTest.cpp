#include "CAgentInstall.h"
#include "ModuleExport.h"
#include "TestFiles.h"
#include "TraceCapture.h"

#include "host/CDispatcherHelper.h"
#include "host/CLoader.h"
#include "host/InstallLocations.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

constexpr GUID kLoaderUnit = trace::ParseGuid("fd18a8b2-5d58-4979-a9c7-d3079d576549");

CMessageObject MakeObject(const wchar_t* name, std::uint32_t value)
{
    CMessageObject object;
    object.AddUInt32(name, value);
    return object;
}

// Each test gets its own agent install and a product folder of its own under the common data folder, where the
// dispatcher stand-in writes events.jsonl.
class DispatcherTest : public ::testing::Test
{
protected:
    DispatcherTest()
    {
        m_install.SetSetupValue(L"InitialProductName", L"Dispatcher Test " + std::to_wstring(::GetCurrentProcessId()));
        EXPECT_TRUE(GetCompanyDataFolder(m_companyFolder) && GetAgentDataFolder(m_dataFolder));
        RemoveTree(m_dataFolder);
    }

    ~DispatcherTest() override
    {
        ::SetEnvironmentVariableW(L"OSTREL_FAIL_AFTER", nullptr);
        RemoveTree(m_dataFolder);
        ::RemoveDirectoryW(m_companyFolder.c_str()); // only when nothing else lives there
    }

    std::vector<std::string> Events() const
    {
        const std::string bytes = ReadBytes(m_dataFolder + L"events.jsonl");
        std::vector<std::string> lines;
        std::size_t start = 0;
        for (std::size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(bytes.substr(start, end - start));
        EXPECT_EQ(start, bytes.size()) << "unterminated last line";
        return lines;
    }

    CAgentInstall m_install;
    std::wstring m_companyFolder, m_dataFolder;
};

} // namespace

TEST_F(DispatcherTest, FirstSendLoadsOnceAndLaterSendsReuseIt)
{
    ASSERT_TRUE(m_install.Add(L"Ostrel.dll", L""));
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelVerbose, kTraceFlagGeneral);
    {
        CDispatcherHelper helper;
        // Empty input is refused without loading.
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), helper.SendText(L"", true));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), helper.SendObjects(CMessageBatch{}, true));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), helper.SendEach({}, true));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), helper.SendAsArray({}, true));
        EXPECT_FALSE(IsLoaded(L"Ostrel.dll"));

        EXPECT_EQ(0u, helper.SendText(L"{\"n\":1}", true));
        EXPECT_TRUE(IsLoaded(L"Ostrel.dll"));
        EXPECT_EQ(0u, helper.SendText(L"{\"n\":2}", false));
        EXPECT_EQ(0u, helper.SendText(L"not json", true));
        EXPECT_EQ(1u, capture.Count(kLoaderUnit, 11));

        helper.UnloadDispatcher();
        EXPECT_FALSE(IsLoaded(L"Ostrel.dll"));
        EXPECT_EQ(0u, helper.SendText(L"[1,\n2]", false));
        EXPECT_EQ(2u, capture.Count(kLoaderUnit, 11));
    }
    EXPECT_FALSE(IsLoaded(L"Ostrel.dll"));
    EXPECT_EQ((std::vector<std::string>{R"({"option":true,"event":{"n":1}})", R"({"option":false,"event":{"n":2}})",
                                        R"({"option":true,"event":"not json"})", R"({"option":false,"event":[1,2]})"}),
              Events());
}

TEST_F(DispatcherTest, MissingOrBrokenComponentFailsEverySendAndIsTriedAgain)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagGeneral);
    CDispatcherHelper helper;
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_NOT_FOUND), helper.SendText(L"{}", false));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_NOT_FOUND), helper.SendText(L"{}", false));
    EXPECT_EQ(2u, capture.Count(kLoaderUnit, 10));

    // Ostrel.dll beside the test program is not the agent's: it must not be picked up in place of the
    // install folder's.
    ASSERT_TRUE(m_install.RemoveSetupValue(L"Path"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_NOT_FOUND), helper.SendText(L"{}", false));
    EXPECT_FALSE(IsLoaded(L"Ostrel.dll"));

    // Without the export or without an interface it is unloaded again.
    ASSERT_TRUE(m_install.SetSetupValue(L"Path", m_install.Folder()));
    ASSERT_TRUE(m_install.Add(L"loadertest_noget.dll", L"", L"Ostrel.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), helper.SendText(L"{}", false));
    EXPECT_FALSE(IsLoaded(L"Ostrel.dll"));

    ASSERT_TRUE(m_install.Add(L"loadertest_nullget.dll", L"", L"Ostrel.dll"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_OBJECT_NOT_FOUND), helper.SendText(L"{}", false));
    EXPECT_FALSE(IsLoaded(L"Ostrel.dll"));

    ASSERT_TRUE(m_install.Add(L"Ostrel.dll", L""));
    EXPECT_EQ(0u, helper.SendText(L"{}", false));
    EXPECT_EQ(1u, Events().size());
}

TEST_F(DispatcherTest, BatchesAndArraysBecomeOneEventText)
{
    ASSERT_TRUE(m_install.Add(L"Ostrel.dll", L""));
    CDispatcherHelper helper;
    CMessageBatch one;
    one.eventSource = L"not sent";
    one.objects.push_back(MakeObject(L"a", 1));
    EXPECT_EQ(0u, helper.SendObjects(one, false));

    CMessageBatch two = one;
    two.objects.push_back(MakeObject(L"b", 2));
    EXPECT_EQ(0u, helper.SendObjects(two, true));

    EXPECT_EQ(0u, helper.SendObject(MakeObject(L"c", 3), false));
    EXPECT_EQ(0u, helper.SendAsArray({L"{\"d\":4}"}, false));
    EXPECT_EQ(0u, helper.SendAsArray({L"{\"d\":4}", L"5"}, true));

    EXPECT_EQ(
        (std::vector<std::string>{R"({"option":false,"event":{"a":1}})", R"({"option":true,"event":[{"a":1},{"b":2}]})",
                                  R"({"option":false,"event":{"c":3}})", R"({"option":false,"event":[{"d":4}]})",
                                  R"({"option":true,"event":[{"d":4},5]})"}),
        Events());
}

TEST_F(DispatcherTest, SendEachStopsAtTheFirstFailure)
{
    ASSERT_TRUE(m_install.Add(L"Ostrel.dll", L""));
    ::SetEnvironmentVariableW(L"OSTREL_FAIL_AFTER", L"1");
    CDispatcherHelper helper;
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), helper.SendEach({L"{\"n\":1}", L"{\"n\":2}", L"{\"n\":3}"}, true));
    EXPECT_EQ(std::vector<std::string>{R"({"option":true,"event":{"n":1}})"}, Events());

    // An empty text stops the list as well.
    ::SetEnvironmentVariableW(L"OSTREL_FAIL_AFTER", nullptr);
    helper.UnloadDispatcher();
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), helper.SendEach({L"{\"n\":4}", L"", L"{\"n\":5}"}, false));
    EXPECT_EQ(2u, Events().size());
    EXPECT_EQ(0u, helper.SendEach({L"{\"n\":6}", L"{\"n\":7}"}, false));
    EXPECT_EQ(R"({"option":false,"event":{"n":7}})", Events().back());
}
