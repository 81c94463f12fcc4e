// The FileUpload processor over stand-ins of the components, in process: the headers an upload is given, what the
// processor answers, the retry task it raises and whether the file stays.

#include "CFakeComms.h"
#include "CFakeComponents.h"
#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"
#include "TestFiles.h"
#include "TraceCapture.h"

#include "message/CMessageObject.h"
#include "telemetry/CFileUploadEventProcessor.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

// The component and its one client at once: notes each upload's headers and answers as the test says.
struct CUploadComms : CFakeComms, CStubDataServiceClient
{
    std::vector<DataServiceHeaders> uploads;
    std::vector<std::wstring> paths;
    bool accepts = true;

    IDataServiceClient* CreateDataServiceClient(const wchar_t*, const wchar_t*, const wchar_t*, int, const wchar_t*,
                                                const wchar_t*, const AuthorizationRecord*, const wchar_t*,
                                                const wchar_t*) override
    {
        return HandOut(static_cast<IDataServiceClient*>(this));
    }
    bool UploadToDataContainer(const wchar_t*, const wchar_t*, const wchar_t* path, const wchar_t*,
                               const DataServiceHeaders& headers) override
    {
        uploads.push_back(headers);
        paths.emplace_back(path);
        return accepts;
    }
};

struct CRecordingDispatcher : CNoDispatcher
{
    std::vector<std::wstring> sent;
    DWORD answer = ERROR_SUCCESS;
    DWORD SendObject(const CMessageObject& object, bool option) override
    {
        std::wstring text;
        EXPECT_TRUE(object.Serialize(text));
        EXPECT_TRUE(option);
        sent.push_back(text);
        return answer;
    }
};

constexpr GUID kUploadUnit = trace::ParseGuid("4f820cc7-b834-404e-b215-9f527453aaee");

CMessageObject Payload(const std::wstring& json)
{
    CMessageObject payload;
    EXPECT_TRUE(payload.FromJson(json));
    return payload;
}

class CFileUploadEventProcessorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_file = std::wstring(temp) + L"upload-test-" + std::to_wstring(::GetCurrentProcessId()) + L".bin";
        for (const auto& [key, value] :
             {std::pair{L"Services.Service_TelemetryFileUpload.Type", L"DataContainer"},
              {L"Services.Defaults.DeviceId", L"dev"}, {L"Services.Defaults.SiteId", L"site"},
              {L"Services.Defaults.Hostname", L"data"}, {L"Services.Authorization.AuthorizationId", L"id"},
              {L"Services.Authorization.Secret", L"s"}})
            m_config.Set(key, value);
    }
    void TearDown() override
    {
        ::DeleteFileW(m_file.c_str());
        EXPECT_EQ(m_comms.Outstanding(), 0);
        EXPECT_EQ(m_comms.BadReleases(), 0);
        EXPECT_EQ(m_components.Outstanding(), 0);
    }

    // The event with the test's file as "Filename" and these members after it.
    DWORD Run(const std::wstring& members)
    {
        WriteBytes(m_file, "file content");
        CMessageObject payload = Payload(L"{\"Filename\":\"" + JsonEscaped(m_file) + L"\"" + members + L"}");
        CFileUploadEventProcessor processor(&m_config, &m_dispatcher, &m_components);
        return processor.Process(&payload);
    }

    std::wstring m_file;
    CFakeConfigUtil m_config;
    CUploadComms m_comms;
    CFakeComponents m_components{&m_comms};
    CRecordingDispatcher m_dispatcher;
};

} // namespace

TEST_F(CFileUploadEventProcessorTest, HeadersComeFromStatusAndMetadataAndTheFileStaysOnlyWhenKeptOrInTestMode)
{
    const std::wstring code = L"x-korvo-metadata-status-code", desc = L"x-korvo-metadata-status-desc";
    const DataServiceHeaders plain = {{code, L"0"}};
    // mode: the test mode set from this row on.
    const struct { const wchar_t* members; DataServiceHeaders headers; const wchar_t* mode{}; bool stays{}; } rows[] = {
        {L"", plain},
        {LR"(,"Status":[{"Code":5}])", plain},
        {LR"(,"Status":{"Code":-5,"Description":"d"})", {{code, L"-5"}, {desc, L"d"}}},
        {LR"(,"Metadata":[{"Name":"a","Value":""},{"Name":"","Value":"1"},{"Name":"a","Value":"2"},"bare"])",
         {{code, L"0"}, {L"x-korvo-metadata-a", L"2"}}},
        {LR"(,"Status":{"Code":1},"Metadata":[{"Name":"status-code","Value":"x"},{"Name":"b","Value":3}])",
         {{code, L"x"}}},
        {LR"(,"KeepFile":true)", plain, L"0", true},
        {LR"(,"KeepFile":"true")", plain}, // a Boolean or nothing
        {L"", plain, L"1", true},
        {L"", plain, L"2"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.members);
        if (row.mode != nullptr)
            m_config.Set(L"Register.Agent.TestMode", row.mode);
        m_comms.uploads.clear();
        EXPECT_EQ(Run(row.members), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_EQ(m_comms.uploads.size(), 1u);
        EXPECT_EQ(m_comms.uploads[0], row.headers);
        EXPECT_EQ(m_comms.paths[0], m_file);
        EXPECT_EQ(Exists(m_file), row.stays);
    }
    EXPECT_TRUE(m_dispatcher.sent.empty());
}

TEST_F(CFileUploadEventProcessorTest, FailedUploadIsRetriedAsTheSameEventUntilTheThirdAttempt)
{
    m_comms.accepts = false;
    EXPECT_EQ(Run(LR"(,"OperationId":"op-1","Owner":"me","KeepFile":false)"), static_cast<DWORD>(ERROR_REQ_NOT_ACCEP));
    EXPECT_TRUE(Exists(m_file));   // kept for the retry
    ASSERT_EQ(m_dispatcher.sent.size(), 1u);
    const std::wstring& task = m_dispatcher.sent[0];
    EXPECT_THAT(task, ::testing::StartsWith(LR"({"SchedulerTaskAdd":{"EventSource":"CFileUploadEventProcessor::Process",)"
                                            LR"("FailIfExists":false,"ScheduleId":"RetryFileUpload_op-1","Enabled":true,)"
                                            LR"("ScheduleInfo":{"StartTime":"%Now()%","Offset":"300"},)"
                                            LR"("Actions":{"FileUpload":{"Filename":)"));
    EXPECT_THAT(task, ::testing::EndsWith(LR"("OperationId":"op-1","Owner":"me","KeepFile":false,"RetryCount":1}}}})"));

    // The count in the event goes on; the third failure, and a count that cannot grow, end the chain.
    const struct { const wchar_t* count; const wchar_t* next; } rows[] = {
        {L"1", L"\"RetryCount\":2}"}, {L"1.5", L"\"RetryCount\":1}"}, {L"\"2\"", L"\"RetryCount\":1}"},
        {L"2", nullptr}, {L"4294967295", nullptr}, {L"-1", nullptr},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.count);
        m_dispatcher.sent.clear();
        EXPECT_EQ(Run(std::wstring(LR"(,"RetryCount":)") + row.count), static_cast<DWORD>(ERROR_REQ_NOT_ACCEP));
        if (row.next != nullptr)
            EXPECT_THAT(m_dispatcher.sent, testing::ElementsAre(testing::EndsWith(std::wstring(row.next) + L"}}}")));
        else
            EXPECT_TRUE(m_dispatcher.sent.empty());
        EXPECT_EQ(Exists(m_file), row.next != nullptr);
    }
}

// A retry that the dispatcher refuses still answers the upload's failure, and the file stays for whoever tries
// again; the refusal is traced.
TEST_F(CFileUploadEventProcessorTest, RetryRefusedByTheDispatcherKeepsTheFile)
{
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelError, kTraceFlagEvents);
    m_comms.accepts = false;
    m_dispatcher.answer = ERROR_SERVICE_DISABLED;
    EXPECT_EQ(Run(LR"(,"OperationId":"op-1","KeepFile":false)"), static_cast<DWORD>(ERROR_REQ_NOT_ACCEP));
    EXPECT_EQ(m_dispatcher.sent.size(), 1u);
    EXPECT_TRUE(Exists(m_file));
    EXPECT_TRUE(capture.Has(kUploadUnit, 22));
}

TEST_F(CFileUploadEventProcessorTest, FailuresBeforeTheUpload)
{
    CFileUploadEventProcessor processor(&m_config, &m_dispatcher, &m_components);
    EXPECT_EQ(processor.Process(nullptr), static_cast<DWORD>(ERROR_INVALID_DATA));
    CMessageObject unnamed = Payload(LR"({"Filename":""})");
    EXPECT_EQ(processor.Process(&unnamed), static_cast<DWORD>(ERROR_INVALID_NAME));
    CMessageObject missing = Payload(LR"({"Filename":"C:\\no such\\file.bin"})");
    EXPECT_EQ(processor.Process(&missing), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // Without the communications component there is no dispatcher: no upload, no retry, the file goes.
    m_components.commsLoads = false;
    EXPECT_EQ(Run(L""), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_FALSE(Exists(m_file));
    EXPECT_TRUE(m_comms.uploads.empty());
    EXPECT_TRUE(m_dispatcher.sent.empty());

    EXPECT_THAT([&] { CFileUploadEventProcessor(&m_config, nullptr, &m_components); },
                ::testing::ThrowsMessage<std::logic_error>(::testing::StrEq("dispatcherHelper is nullptr")));
}
