// The scheduler client: the requests it makes, and seeded mutations of the events and stored task texts from
// outside (Fuzz.h says what those cases check).

#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"
#include "Fuzz.h"

#include "platform/Digest.h"
#include "platform/TextUtil.h"
#include "scheduler/CSchedulerHelper.h"

#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <tuple>

namespace
{
constexpr DWORD kRefused = ERROR_ACCESS_DENIED, kUnwritable = ERROR_INVALID_PARAMETER;

CMessageObject Json(const std::wstring& text)
{
    CMessageObject object;
    EXPECT_TRUE(object.FromJson(text));
    return object;
}

std::wstring Text(const CMessageObject& object)
{
    std::wstring text;
    return object.Serialize(text) ? text : L"(unwritable)";
}

// Keeps the JSON text of every object sent (always with the option) and answers with one status; the other
// ways of sending leave no record, so a test that expects one fails.
struct CRecordingDispatcher : CNoDispatcher
{
    DWORD SendObject(const CMessageObject& object, bool option) override
    {
        EXPECT_TRUE(option);
        sent.push_back(Text(object));
        return result;
    }
    DWORD result = ERROR_SUCCESS;
    std::vector<std::wstring> sent;
};

const std::vector<std::string> kEvents = {
    R"({"FileUpload":{"OperationId":"42","Filename":"C:\\data\\out.zip","RetryCount":1}})",
    R"({"EventId":"1","EventSource":"s","Upload":{"EventSource":"a","Id":"42","EventId":"9","Inner":{"EventId":"x"}}})",
    R"({"EventId":"7","Id":"42"})",
    R"({})",
};

class CSchedulerHelperTest : public testing::Test
{
protected:
    CRecordingDispatcher dispatcher;
    CFakeConfigUtil config;
    CSchedulerHelper scheduler{&dispatcher, &config};
};
} // namespace

TEST_F(CSchedulerHelperTest, AddTaskAppendsTheTaskInTheSchedulersOrderWithoutSending)
{
    // With an id: the upload processor's retry test has the exact text.
    CMessageObject request;
    ASSERT_EQ(0u, scheduler.AddTask(request, Json(LR"({"FileUpload":{"OperationId":"42"}})"), L"300", L"",
                                    L"CFileUploadEventProcessor::Process", L"RetryFileUpload_42", ScheduleInfo()));
    EXPECT_TRUE(dispatcher.sent.empty());

    // Without an id: a new braced UUID and no "FailIfExists"; a named event's name gives way to "Actions".
    request = CMessageObject();
    ASSERT_EQ(0u, scheduler.AddTask(request, CMessageObject(L"Ping"), L"", L"", L"", L"", ScheduleInfo()));
    const std::wstring text = Text(request), head = LR"({"SchedulerTaskAdd":{"ScheduleId":"{)";
    ASSERT_EQ(head, text.substr(0, head.size()));
    const std::size_t idEnd = text.find(L'}', head.size());
    EXPECT_EQ(36u, idEnd - head.size());
    EXPECT_EQ(LR"(}","Enabled":true,"ScheduleInfo":{"StartTime":"%Now()%"},"Actions":{}}})", text.substr(idEnd));

    CMessageObject unwritable;
    unwritable.AddItem(CMessageItem(), true);
    EXPECT_EQ(kUnwritable, scheduler.AddTask(request, unwritable, L"", L"", L"", L"id", ScheduleInfo()));
    EXPECT_EQ(text, Text(request));
}

TEST_F(CSchedulerHelperTest, ScheduleInfoCarriesOnlyTheKeysThatApply)
{
    // scheduleInfo: the members the request's "ScheduleInfo" holds.
    const std::tuple<const wchar_t*, const wchar_t*, ScheduleInfo, const wchar_t*> rows[] = {
        {L"0", L"", {0, 0, {}, {}, 0, true}, LR"("StartTime":"%Now()%")"},
        {L"", L"05:00", {}, LR"("StartTime":"05:00")"},
        {L"00", L"05:00", {0, 0, {}, {}, 0, true}, LR"("LocalTime":true,"StartTime":"05:00","Offset":"00")"},
        {L"", L"", {2, 3, {}, {}, 0}, LR"("StartTime":"%Now()%","Repetition":2)"},
        {L"", L"", {2, 6, {}, {}, 0}, LR"("StartTime":"%Now()%")"},
        {L"", L"", {1, 0, {}, {}, 60}, LR"("StartTime":"%Now()%","Every":60)"},
        {L"", L"", {3, 2, {1}, {1, 5}, 0}, LR"("StartTime":"%Now()%","Repetition":3,"Position":2,"DaysOfWeek":[1,5])"},
        {L"", L"", {3, 0, {}, {2}, 0}, LR"("StartTime":"%Now()%","Repetition":3,"DaysOfWeek":[2])"},
        {L"", L"", {2, 4, {1, 15}, {}, 0}, LR"("StartTime":"%Now()%","Repetition":2,"Days":[1,15])"},
    };
    for (const auto& [offset, startTime, info, scheduleInfo] : rows)
    {
        SCOPED_TRACE(scheduleInfo);
        CMessageObject request;
        ASSERT_EQ(0u, scheduler.AddTask(request, CMessageObject(), offset, startTime, L"", L"id", info));
        EXPECT_NE(std::wstring::npos, Text(request).find(LR"("ScheduleInfo":{)" + std::wstring(scheduleInfo) + L"},"));
    }
}

TEST(HasRepetitionTest, NeedsARepeatingKindWithSomethingToRepeatOn)
{
    const std::pair<ScheduleInfo, bool> rows[] = {
        {{0, 0, {}, {}, 60}, true}, {{0, 3, {1}, {1}, 0}, false}, {{1, 0, {}, {}, 0}, true},
        {{2, 0, {}, {2}, 0}, true}, {{3, 0, {9}, {}, 0}, true},   {{2, 1, {}, {}, 0}, true},
        {{3, 5, {}, {}, 0}, true},  {{2, 0, {}, {}, 60}, false},  {{4, 1, {1}, {1}, 60}, false},
    };
    for (const auto& [info, expected] : rows)
        EXPECT_EQ(expected, HasRepetition(info)) << info.Repetition << " " << info.Position << " " << info.Every;
}

TEST_F(CSchedulerHelperTest, ScheduleRetrySendsATaskNamedByTheEventHashOrAtOnceTheEventItself)
{
    // The hash is the MD5 of the event's text without its delivery stamps, one level deep, as UTF-16LE:
    // {"Upload":{"Id":"42","Inner":{"EventId":"x"}}}
    std::wstring hash;
    const CMessageObject stamped = Json(LR"({"EventId":"1","EventSource":"s","Upload":{"EventSource":"a","Id":"42",)"
                                        LR"("EventId":"9","Inner":{"EventId":"x"}}})");
    ASSERT_EQ(0u, scheduler.GetEventHash(stamped, hash));
    EXPECT_EQ(L"49b46b27a6cffca0c605516aca711b68", hash);

    CMessageObject event = Json(LR"({"EventId":"7","Id":"42"})");
    event.m_name = L"FileUpload";
    ASSERT_EQ(0u, scheduler.GetEventHash(event, hash));
    dispatcher.result = kRefused;
    EXPECT_EQ(kRefused, scheduler.ScheduleRetry(event, 300, L"Source"));
    EXPECT_EQ(kRefused, scheduler.ScheduleRetry(event, 0, L"Source"));
    std::wstring retry = LR"({"SchedulerTaskAdd":{"EventSource":"Source","FailIfExists":false,"ScheduleId":"Retry )"
                         LR"(FileUpload #","Enabled":true,"ScheduleInfo":{"StartTime":"%Now()%","Offset":"300"},)"
                         LR"("Actions":{"EventId":"7","Id":"42"}}})";
    retry.replace(retry.find(L'#'), 1, hash);
    EXPECT_EQ((std::vector<std::wstring>{retry, Text(event)}), dispatcher.sent);
}

TEST_F(CSchedulerHelperTest, RemovalOnlyForAStoredTaskEnableAndDisableAlways)
{
    config.Set(L"Scheduler.Tasks.stored", L"{\"Enabled\":true}");
    config.Set(L"Scheduler.Tasks.blank", L"");
    const CMessageObject event = Json(LR"({"FileUpload":{"Id":"42"}})");
    dispatcher.result = kRefused;
    for (const wchar_t* id : {L"", L"missing", L"blank"})
        EXPECT_EQ(0u, scheduler.RemoveTask(id)) << id;
    EXPECT_EQ(0u, scheduler.CancelRetry(event));
    EXPECT_TRUE(dispatcher.sent.empty());
    std::wstring retryId;
    ASSERT_EQ(0u, scheduler.BuildRetryScheduleId(event, retryId));
    config.Set(L"Scheduler.Tasks." + retryId, L"{}");
    EXPECT_EQ(kRefused, scheduler.CancelRetry(event));
    EXPECT_EQ(kRefused, scheduler.RemoveTask(L"stored"));
    EXPECT_EQ(kRefused, scheduler.EnableTask(L"missing"));
    EXPECT_EQ(kRefused, scheduler.DisableTask(L"stored"));
    EXPECT_EQ((std::vector<std::wstring>{LR"({"SchedulerTaskRemove":{"ScheduleId":")" + retryId + L"\"}}",
                                         LR"({"SchedulerTaskRemove":{"ScheduleId":"stored"}})",
                                         LR"({"SchedulerTaskEnable":{"ScheduleId":"missing"}})",
                                         LR"({"SchedulerTaskDisable":{"ScheduleId":"stored"}})"}),
              dispatcher.sent);
}

// A task made of any event and schedule carries the event as its actions, the start asked for, and a repetition
// only where the schedule has one; a refused one leaves the request as it was.
TEST(SchedulerFuzzTest, TaskAdd)
{
    CNoDispatcher dispatcher;
    CFakeConfigUtil config;
    CSchedulerHelper scheduler(&dispatcher, &config);
    const std::int32_t numbers[] = {-1, 0, 1, 2, 3, 4, 5, 6, std::numeric_limits<std::int32_t>::min()};
    const std::vector<std::wstring> times = {L"", L"05:00", L"2026-12-07T05:00:00", L"0", L"300"};
    CFuzzRun run("scheduler task");
    run.ForEachInput([&](int) {
        CMessageObject event;
        if (!event.FromUtf8Json(run.Json(kEvents)))
            return run.Outcome("not JSON");
        auto& random = run.Random();
        ScheduleInfo info;
        info.Repetition = numbers[random() % std::size(numbers)];
        info.Position = numbers[random() % std::size(numbers)];
        for (int n = random() % 3; n > 0; --n)
            (random() % 2 ? info.Days : info.DaysOfWeek).push_back(random() % 40);
        info.Every = random() % 3 == 0 ? (random() % 2 ? 60 : std::numeric_limits<std::uint64_t>::max()) : 0;
        info.LocalTime = random() % 2 != 0;
        const std::wstring startTime = random() % 4 ? times[random() % 3] : run.Text(times);
        const std::wstring offset = run.Text(times);

        CMessageObject request;
        request.AddObject(L"Other", true)->AddInt32(L"A", 1);
        const std::wstring before = Text(request);
        const DWORD status = scheduler.AddTask(request, event, offset, startTime, L"Source", L"", info);
        run.Outcome(std::to_string(status) + (HasRepetition(info) ? " repeating" : " once"));
        if (status != ERROR_SUCCESS)
            return static_cast<void>(run.Expect(Text(request) == before, "a refused task changed the request"));

        const CMessageItem* item = nullptr;
        if (!run.Expect(request.FindItem(L"Other", item) && request.FindItem(L"SchedulerTaskAdd", item) &&
                            item->m_type == Object && item->m_value.object != nullptr,
                        "the task is not added to the request's content"))
            return;
        const CMessageObject& task = *item->m_value.object;
        const CMessageItem *actions = nullptr, *schedule = nullptr;
        std::wstring given;
        if (!run.Expect(task.FindItem(L"Actions", actions) && actions->m_type == Object &&
                            actions->m_value.object != nullptr && task.FindItem(L"ScheduleInfo", schedule) &&
                            schedule->m_type == Object && schedule->m_value.object != nullptr,
                        "the task has no actions or schedule"))
            return;
        CMessageObject carried = *actions->m_value.object;
        carried.m_name = event.m_name;
        run.Expect(Text(carried) == Text(event), "the task does not carry the event");
        const CMessageObject& when = *schedule->m_value.object;
        run.Expect(when.GetString(L"StartTime", given) && given == (startTime.empty() ? L"%Now()%" : startTime) &&
                       (when.FindItem(L"Every", item) || when.FindItem(L"Repetition", item)) == HasRepetition(info),
                   "the schedule's start or repetition is not the one asked for");
    });
    run.ExpectClean(3);
}

// A stored task text decides whether a retry is removed; the retry's id does not depend on delivery stamps.
TEST(SchedulerFuzzTest, StoredTask)
{
    const std::vector<std::string> tasks = {
        R"({"Enabled":true,"ScheduleInfo":{"StartTime":"%Now()%","Offset":"300"},"Actions":{"FileUpload":{"OperationId":"42"}}})",
        R"({})",
        "",
    };
    CFuzzRun run("stored scheduler task");
    const CDigestProviders digests; // the run's digests share the providers' contexts
    run.ForEachInput([&](int) {
        CMessageObject event;
        if (!event.FromUtf8Json(run.Json(kEvents)))
            return run.Outcome("not JSON");
        CRecordingDispatcher dispatcher;
        CFakeConfigUtil config;
        CSchedulerHelper scheduler(&dispatcher, &config);
        std::wstring id;

        // Each delivery stamps the event afresh.
        const auto stamped = [&event](const wchar_t* id, const wchar_t* source) {
            CMessageObject delivered = event;
            delivered.AddString(L"EventId", id);
            delivered.AddString(L"EventSource", source);
            return delivered;
        };
        const DWORD hashed = scheduler.BuildRetryScheduleId(stamped(L"1", L"Agent"), id);
        std::wstring again;
        run.Expect(scheduler.BuildRetryScheduleId(stamped(L"77", L"Dispatcher"), again) == hashed && again == id,
                   "delivery stamps changed the retry's id");

        const std::string text = run.Json(tasks);
        std::wstring wide;
        if (!BytesToWide(text, wide, CP_UTF8))
            wide.assign(text.begin(), text.end());
        config.Set(L"Scheduler.Tasks." + id, wide);
        const bool exists = scheduler.TaskExists(id);
        const DWORD cancelled = scheduler.CancelRetry(stamped(L"78", L"Dispatcher"));
        run.Outcome(std::to_string(hashed) + (exists ? " stored" : " absent"));
        run.Expect(hashed != ERROR_SUCCESS || dispatcher.sent.size() == (exists ? 1u : 0u),
                   "a retry was removed that is not stored, or a stored one was kept");
        run.Expect(hashed == ERROR_SUCCESS || (cancelled == hashed && dispatcher.sent.empty()),
                   "a retry without an id was removed");
    });
    run.ExpectClean(3);
}
