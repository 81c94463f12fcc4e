#include "scheduler/CSchedulerHelper.h"

#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"

#include <gtest/gtest.h>

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
    EXPECT_TRUE(object.Serialize(text));
    return text;
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
    CMessageObject request = Json(LR"({"Other":{"A":1}})");
    ASSERT_EQ(0u, scheduler.AddTask(request, Json(LR"({"FileUpload":{"OperationId":"42"}})"), L"300", L"",
                                    L"CFileUploadEventProcessor::Process", L"RetryFileUpload_42", ScheduleInfo()));
    EXPECT_EQ(LR"({"Other":{"A":1},"SchedulerTaskAdd":{"EventSource":"CFileUploadEventProcessor::Process",)"
              LR"("FailIfExists":false,"ScheduleId":"RetryFileUpload_42","Enabled":true,)"
              LR"("ScheduleInfo":{"StartTime":"%Now()%","Offset":"300"},)"
              LR"("Actions":{"FileUpload":{"OperationId":"42"}}}})",
              Text(request));
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
    const struct { const wchar_t *offset, *startTime; ScheduleInfo info; const wchar_t* scheduleInfo; } rows[] = {
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
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.scheduleInfo);
        CMessageObject request;
        ASSERT_EQ(0u, scheduler.AddTask(request, CMessageObject(), row.offset, row.startTime, L"", L"id", row.info));
        EXPECT_NE(std::wstring::npos,
                  Text(request).find(LR"("ScheduleInfo":{)" + std::wstring(row.scheduleInfo) + L"},"));
    }
}

TEST(HasRepetitionTest, NeedsARepeatingKindWithSomethingToRepeatOn)
{
    const std::pair<ScheduleInfo, bool> rows[] = {
        {{0, 0, {}, {}, 60}, true},    {{0, 3, {1}, {1}, 0}, false},   {{1, 0, {}, {}, 0}, true},
        {{2, 0, {}, {2}, 0}, true},    {{3, 0, {9}, {}, 0}, true},     {{2, 1, {}, {}, 0}, true},
        {{3, 5, {}, {}, 0}, true},     {{2, 0, {}, {}, 60}, false},    {{3, 6, {}, {}, 0}, false},
        {{4, 1, {1}, {1}, 60}, false}, {{-1, 1, {1}, {1}, 60}, false},
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
