// The development scheduler driven in process: task requests as the plug-in's scheduler client writes them, a
// map for the configuration, a recording delivery and a time scale of 0.01 (a second takes 10 ms).

#include "CDevScheduler.h"
#include "CFakeConfigUtil.h"
#include "ScheduleTime.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace
{
constexpr unsigned long kBoundMs = 5000;

std::wstring AddRequest(const std::wstring& id, const std::wstring& info, const std::wstring& operation,
                        const std::wstring& failIfExists = L"false", const wchar_t* enabled = L"true")
{
    return L"{\"SchedulerTaskAdd\":{\"EventSource\":\"CFileUploadEventProcessor::Process\"," +
           (failIfExists.empty() ? L"" : L"\"FailIfExists\":" + failIfExists + L",") + L"\"ScheduleId\":\"" + id +
           L"\",\"Enabled\":" + enabled + L",\"ScheduleInfo\":{\"StartTime\":\"%Now()%\"," + info +
           L"},\"Actions\":{\"FileUpload\":{\"OperationId\":\"" + operation + L"\"}}}}";
}

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
                                     [this](const std::wstring&) { ++m_notes; }};
        m_scheduler = std::make_unique<CDevScheduler>(&m_config, std::set<std::wstring>{L"FileUpload", L"TrackingSend"},
                                                      0.01, callbacks);
        m_scheduler->Start();
    }

    void Record(const std::wstring& id, CMessageObject& event)
    {
        std::wstring json;
        EXPECT_TRUE(event.Serialize(json));
        if (m_onDelivery)
            m_onDelivery();
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

    bool StoredHas(const std::wstring& id, const std::wstring& text)
    {
        return Stored(L"Scheduler.Tasks." + id).find(text) != std::wstring::npos;
    }

    CFakeConfigUtil m_config;
    std::mutex m_mutex;
    std::vector<std::wstring> m_delivered;
    const DWORD m_testThread = ::GetCurrentThreadId();
    bool m_otherThread = true;
    std::atomic<int> m_notes{0};
    std::function<void()> m_onDelivery;
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

// FailIfExists decides replacing; a disabled task waits for enable, a removed one never runs, and a one-shot task
// registered again during its delivery (a retry scheduling the next attempt) stays.
TEST_F(CDevSchedulerTest, TaskRequestsChangeTheStoredTasks)
{
    Start();
    m_scheduler->OnEvent(AddRequest(L"T", LR"("Offset":"100000")", L"1", L""));
    m_scheduler->OnEvent(AddRequest(L"T", LR"("Offset":"100000")", L"2", L"true"));
    EXPECT_TRUE(StoredHas(L"T", L"\"OperationId\":\"1\""));
    EXPECT_EQ(m_notes, 1);
    m_scheduler->OnEvent(AddRequest(L"T", LR"("Offset":"100000")", L"3", L"false"));
    EXPECT_TRUE(StoredHas(L"T", L"\"OperationId\":\"3\""));
    m_scheduler->OnEvent(AddRequest(L"Off", LR"("Offset":"1")", L"1", L"false", L"false"));
    m_scheduler->OnEvent(AddRequest(L"Paused", LR"("Offset":"20")", L"2"));
    m_scheduler->OnEvent(LR"({"SchedulerTaskDisable":{"ScheduleId":"Paused"}})");
    m_scheduler->OnEvent(AddRequest(L"Gone", LR"("Offset":"20")", L"3"));
    m_scheduler->OnEvent(LR"({"SchedulerTaskRemove":{"ScheduleId":"Gone"}})");
    EXPECT_TRUE(StoredHas(L"Paused", L"\"Enabled\":false"));
    EXPECT_EQ(Stored(L"Scheduler.Tasks.Gone"), L"(none)");
    ::Sleep(400);
    EXPECT_TRUE(Delivered().empty());

    m_onDelivery = [this] { m_scheduler->OnEvent(AddRequest(L"Paused", LR"("Offset":"100000")", L"4")); };
    m_scheduler->OnEvent(LR"({"SchedulerTaskEnable":{"ScheduleId":"Paused"}})");
    ASSERT_TRUE(m_scheduler->WaitForDue(kBoundMs));
    EXPECT_EQ(Delivered(), std::vector<std::wstring>{L"Paused " + Upload(L"2")});
    EXPECT_TRUE(StoredHas(L"Paused", L"\"OperationId\":\"4\""));
    EXPECT_TRUE(StoredHas(L"Off", L"\"Enabled\":false"));
}

TEST_F(CDevSchedulerTest, StoredTasksAreLoadedOverdueOnesRunAtStartRepeatingOnesStay)
{
    const auto stored = [](const wchar_t* id, const wchar_t* operation, const wchar_t* nextRun) {
        return LR"({"ScheduleId":")" + std::wstring(id) +
               LR"(","Enabled":true,"ScheduleInfo":{"StartTime":"%Now()%","Offset":"300"},"Actions":)" +
               Upload(operation) + LR"(,"NextRun":")" + nextRun + L"\"}";
    };
    m_config.Set(L"Scheduler.TaskIds", L"[\"Overdue\",\"Later\",\"Lost\"]");
    m_config.Set(L"Scheduler.Tasks.Overdue", stored(L"Overdue", L"7", L"2001-01-01T00:00:00.000Z"));
    m_config.Set(L"Scheduler.Tasks.Later", stored(L"Later", L"8", L"2101-01-01T00:00:00.000Z"));
    Start();
    ASSERT_TRUE(m_scheduler->WaitForDue(kBoundMs));
    EXPECT_EQ(Delivered(), std::vector<std::wstring>{L"Overdue " + Upload(L"7")});
    EXPECT_EQ(Stored(L"Scheduler.Tasks.Overdue"), L"(none)");
    EXPECT_TRUE(StoredHas(L"Later", L"2101-01-01T00:00:00.000Z"));
    EXPECT_EQ(Stored(L"Scheduler.TaskIds"), L"[\"Later\"]");
    EXPECT_EQ(m_notes, 1); // the listed task without an entry

    m_scheduler->OnEvent(AddRequest(L"Every", L"\"Every\":2", L"5"));
    const std::wstring first = Stored(L"Scheduler.Tasks.Every");
    for (int waited = 0; Delivered().size() < 4 && waited < 500; ++waited)
        ::Sleep(10);
    m_scheduler->Stop();
    EXPECT_GE(Delivered().size(), 4u);                  // the overdue task, then three runs of the repeating one
    EXPECT_NE(Stored(L"Scheduler.Tasks.Every"), first); // "NextRun" moved on
}

TEST(ScheduleTimeTest, ReadsTheStartTimeForms)
{
    std::uint64_t base = 0, ms = 0;
    ASSERT_TRUE(ParseScheduleTime(L"2026-12-07T04:05:06Z", false, base));
    EXPECT_EQ(FormatScheduleTime(base + 7), L"2026-12-07T04:05:06.007Z");
    const struct
    {
        const wchar_t* text;
        bool valid;          // else the time is left as it was
        std::uint64_t after; // milliseconds after base
    } rows[] = {{L"2026-12-07 04:05:06", true, 0},
                {L"2026-12-07T04:05:06.250Z", true, 250},
                {L"2026-12-08T04:05:06", true, 86400000},
                {L"2026-02-30T04:05:06", false, 0},
                {L"2026-12-07", false, 0},
                {L"2026-12-07T04:05:06Zx", false, 0},
                {L"2026-12-07T4:05:06", false, 0}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.text);
        ms = 1;
        EXPECT_EQ(ParseScheduleTime(row.text, false, ms), row.valid);
        EXPECT_EQ(ms, row.valid ? base + row.after : 1);
    }
}
