// The scheduler client over events and stored task texts from outside, fed seeded mutations of the inputs
// the other tests use. Fuzz.h says what each case checks.

#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"
#include "Fuzz.h"

#include "platform/Digest.h"
#include "platform/TextUtil.h"
#include "scheduler/CSchedulerHelper.h"

#include <gtest/gtest.h>

#include <iterator>
#include <limits>

namespace
{

struct CCountingDispatcher : CNoDispatcher
{
    DWORD SendObject(const CMessageObject&, bool) override
    {
        ++sent;
        return ERROR_SUCCESS;
    }
    int sent = 0;
};

const std::vector<std::string> kEvents = {
    R"({"FileUpload":{"OperationId":"42","Filename":"C:\\data\\out.zip","RetryCount":1}})",
    R"({"EventId":"1","EventSource":"s","Upload":{"EventSource":"a","Id":"42","EventId":"9","Inner":{"EventId":"x"}}})",
    R"({"EventId":"7","Id":"42"})",
    R"({})",
};

std::wstring Text(const CMessageObject& object)
{
    std::wstring text;
    return object.Serialize(text) ? text : L"(unwritable)";
}

} // namespace

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
        if (!run.Expect(task.FindItem(L"Actions", actions) && actions->m_type == Object && actions->m_value.object != nullptr &&
                            task.FindItem(L"ScheduleInfo", schedule) && schedule->m_type == Object &&
                            schedule->m_value.object != nullptr,
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
    const CDigestProviders digests;   // the run's digests share the providers' contexts
    run.ForEachInput([&](int) {
        CMessageObject event;
        if (!event.FromUtf8Json(run.Json(kEvents)))
            return run.Outcome("not JSON");
        CCountingDispatcher dispatcher;
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
        run.Expect(hashed != ERROR_SUCCESS || dispatcher.sent == (exists ? 1 : 0),
                   "a retry was removed that is not stored, or a stored one was kept");
        run.Expect(hashed == ERROR_SUCCESS || (cancelled == hashed && dispatcher.sent == 0),
                   "a retry without an id was removed");
    });
    run.ExpectClean(3);
}
