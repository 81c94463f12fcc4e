// The development scheduler driven in process: events raised to it, a map for the configuration, a recording
// delivery and a time scale of 0.01 (a second takes 10 ms). Task requests, their store and their timing are what
// the file upload end-to-end tests depend on.

#include "CDevScheduler.h"
#include "CFakeConfigUtil.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace
{
constexpr unsigned long kBoundMs = 5000;

std::wstring Upload(const wchar_t* operation)
{
    return std::wstring(L"{\"FileUpload\":{\"OperationId\":\"") + operation + L"\"}}";
}
} // namespace

class CDevSchedulerTest : public ::testing::Test
{
protected:
    void Start()
    {
        SchedulerCallbacks callbacks{[this](const std::wstring& id, CMessageObject& event) { Record(id, event); },
                                     [](const std::wstring&) {}};
        m_scheduler = std::make_unique<CDevScheduler>(&m_config, std::set<std::wstring>{L"FileUpload", L"TrackingSend"},
                                                      0.01, callbacks);
        m_scheduler->Start();
    }

    void Record(const std::wstring& id, CMessageObject& event)
    {
        std::wstring json;
        EXPECT_TRUE(event.Serialize(json));
        std::lock_guard<std::mutex> lock(m_mutex);
        m_delivered.push_back(id + L" " + json);
        m_otherThread = m_otherThread && ::GetCurrentThreadId() != m_testThread;
    }

    std::vector<std::wstring> Delivered()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_delivered;
    }

    std::wstring Stored(const std::wstring& key)
    {
        std::wstring value;
        return m_config.GetValue(key.c_str(), value, 0) == ERROR_SUCCESS ? value : L"(none)";
    }

    CFakeConfigUtil m_config;
    std::mutex m_mutex;
    std::vector<std::wstring> m_delivered;
    const DWORD m_testThread = ::GetCurrentThreadId();
    bool m_otherThread = true;
    std::unique_ptr<CDevScheduler> m_scheduler; // last: stopped before what it calls goes
};

TEST_F(CDevSchedulerTest, RaisedEventsOfHandledNamesGoAtOnce)
{
    Start();
    m_scheduler->OnEvent(Upload(L"9"));
    m_scheduler->OnEvent(L"{\"InventoryScan\":{}}");
    m_scheduler->OnEvent(L"[{\"TrackingSend\":{\"Filename\":\"t\"}},{\"Unknown\":{}}]");
    m_scheduler->OnEvent(L"not JSON");
    ASSERT_TRUE(m_scheduler->WaitForDue(kBoundMs));
    EXPECT_EQ(Delivered(),
              (std::vector<std::wstring>{L" " + Upload(L"9"), L" {\"TrackingSend\":{\"Filename\":\"t\"}}"}));
    EXPECT_EQ(Stored(L"Scheduler.TaskIds"), L"(none)");
    EXPECT_TRUE(m_otherThread);
}
