#include "CNoDispatcher.h"
#include "Fuzz.h"
#include "TraceCapture.h"

#include "comms/WebApiResponse.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace
{

constexpr GUID kResponseUnit = trace::ParseGuid("eb41cae1-c610-4267-8aa8-2ad5caf00cc1");
constexpr wchar_t kEventSource[] = L"WebApiResponse Actions from Velnor Server";
const char kActionsReply[] = R"({"Code":"Conflict","Message":"later","ServerTime":"1700000000",)"
                             R"("Actions":{"A":{"x":1},"B":{"EventId":"old"},"C":"text","D":[1,2]}})";

// Any other way of sending leaves no batch, so a test that expects one fails.
class CRecordingDispatcher : public CNoDispatcher
{
public:
    DWORD SendObjects(const CMessageBatch& batch, bool option) override
    {
        batches.push_back(batch);
        EXPECT_FALSE(option);
        return result;
    }

    DWORD result = ERROR_SUCCESS;
    std::vector<CMessageBatch> batches;
};

void Deliver(WebApiResponse& response, DWORD status, const std::string& body)
{
    response.SetResult(SYSTEMTIME{2024, 3, 2, 5, 7, 8, 9, 10}, status, reinterpret_cast<const BYTE*>(body.data()),
                       static_cast<DWORD>(body.size()));
}

std::wstring Json(const CMessageObject& object)
{
    std::wstring text;
    EXPECT_TRUE(object.Serialize(text));
    return text;
}

bool IsBracedLowerUuid(const std::wstring& id)
{
    return std::regex_match(id, std::wregex(L"\\{[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}\\}"));
}

// What each raised action looks like: A and B stamped, C (no object) and D (an array) left out.
std::wstring ExpectedEvents(const std::wstring& id)
{
    const std::wstring stamp = L"\"EventId\":\"" + id + L"\",\"EventSource\":\"" + kEventSource + L"\"";
    return L"{\"A\":{\"x\":1," + stamp + L"}},{\"B\":{" + stamp + L"}}";
}

// The event id an action carries, itself or in the one object that wraps it.
bool CarriesId(const CMessageObject& event, const std::wstring& id)
{
    std::wstring found;
    if (event.GetString(L"EventId", found))
        return found == id;
    const auto& items = event.Items();
    return items.size() == 1 && items[0].m_type == Object && items[0].m_value.object != nullptr &&
           items[0].m_value.object->GetString(L"EventId", found) && found == id;
}

} // namespace

TEST(WebApiResponseTest, MapsEveryStatusRange)
{
    const std::pair<DWORD, DWORD> rows[] = {{199, ERROR_BAD_NET_RESP},
                                            {200, 0},
                                            {299, 0},
                                            {300, ERROR_INVALID_ADDRESS},
                                            {304, ERROR_CONTINUE},
                                            {399, ERROR_INVALID_ADDRESS},
                                            {400, ERROR_BAD_NETPATH},
                                            {403, ERROR_ACCESS_DENIED},
                                            {404, ERROR_NOT_FOUND},
                                            {499, ERROR_BAD_NETPATH},
                                            {500, ERROR_INVALID_SERVER_STATE},
                                            {599, ERROR_INVALID_SERVER_STATE},
                                            {600, ERROR_BAD_NET_RESP}};
    for (const auto& [status, error] : rows)
        EXPECT_EQ(error, HttpStatusToError(status)) << status;
}

TEST(WebApiResponseTest, ObjectActionsBecomeOneStampedBatch)
{
    CRecordingDispatcher dispatcher;
    WebApiResponse response(&dispatcher);
    Deliver(response, 409, kActionsReply);
    response.AddHeader(L"Retry-After", L"5");
    EXPECT_EQ(L"Conflict", response.GetReply().m_code);
    EXPECT_EQ(L"later", response.GetReply().m_messageText);
    EXPECT_EQ(1700000000, response.GetReply().m_serverTime);
    EXPECT_TRUE(response.GetReply().m_hasActions);
    EXPECT_EQ(0u, response.GetActionsResult());
    ASSERT_EQ(1u, dispatcher.batches.size());
    const CMessageBatch batch = dispatcher.batches[0]; // a copy: the next reply grows the vector
    EXPECT_EQ(kEventSource, batch.eventSource);
    EXPECT_TRUE(IsBracedLowerUuid(batch.eventId)) << batch.eventId;
    EXPECT_TRUE(batch.eventSchedulerId.empty() && batch.schedulerExecutionTime.empty());
    ASSERT_EQ(2u, batch.objects.size());
    EXPECT_EQ(ExpectedEvents(batch.eventId), Json(batch.objects[0]) + L"," + Json(batch.objects[1]));

    // A new id for every reply, and the dispatcher's failure is the actions' result.
    dispatcher.result = ERROR_SERVICE_REQUEST_TIMEOUT;
    Deliver(response, 409, kActionsReply);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), response.GetActionsResult());
    ASSERT_EQ(2u, dispatcher.batches.size());
    EXPECT_NE(batch.eventId, dispatcher.batches[1].eventId);
}

TEST(WebApiResponseTest, RepliesThatRaiseNothing)
{
    // trace: the one refusal traced; 0: none of them (the HTTP status's own trace only).
    const struct
    {
        const char* body;
        const wchar_t* code;
        bool hasActions, handler;
        ULONG trace;
    } rows[] = {{R"({"Code":5,"Message":"m","ServerTime":"1","Actions":{"A":{}}})", L"", true, true, 18},
                {R"({"Code":"c","Message":"m","ServerTime":1,"Actions":{"A":{}}})", L"", true, true, 18},
                {R"({"Code":"c","Message":"m","ServerTime":"1","Actions":{"A":{}})", L"", false, true, 17},
                {"<html>busy</html>", L"", false, true, 17},
                {R"({"Code":"c","Message":"m","ServerTime":"1","Actions":[{"A":{}}]})", L"c", false, true, 0},
                {R"({"Code":"c","Message":"m","ServerTime":"1","Actions":{"C":"t","D":[{}]}})", L"c", true, true, 22},
                {R"({"Code":"c","Message":"m","ServerTime":"1","Actions":{"A":{}}})", L"c", true, false, 15}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.body);
        CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelWarning, kTraceFlagEvents);
        CRecordingDispatcher dispatcher;
        WebApiResponse response(row.handler ? &dispatcher : nullptr);
        Deliver(response, 500, row.body);
        EXPECT_EQ(row.code, response.GetReply().m_code);
        EXPECT_EQ(row.hasActions, response.GetReply().m_hasActions);
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_DATA), response.GetActionsResult());
        EXPECT_EQ(0u, dispatcher.batches.size());
        for (const ULONG refusal : {15u, 17u, 18u, 22u})
            EXPECT_EQ(refusal == row.trace, capture.Has(kResponseUnit, refusal)) << refusal;
    }
}

TEST(WebApiResponseTest, ServerTimeReadsItsLeadingNumber)
{
    const std::pair<const char*, std::int64_t> rows[] = {{"12abc", 12},
                                                         {"", 0},
                                                         {" \t-42", -42},
                                                         {"2147483647", 2147483647},
                                                         {"2147483648", 2147483647},
                                                         {"99999999999999999999", 2147483647},
                                                         {"-2147483649", -2147483647 - 1}};
    for (const auto& [text, value] : rows)
    {
        WebApiResponse response(nullptr);
        Deliver(response, 400, std::string(R"({"Code":"c","Message":"m","ServerTime":")") + text + "\"}");
        EXPECT_EQ(value, response.GetReply().m_serverTime) << text;
    }
}

TEST(WebApiResponseTest, SetResultReplacesEverythingAndCopiesTheContent)
{
    CRecordingDispatcher dispatcher;
    WebApiResponse response(&dispatcher);
    Deliver(response, 409, kActionsReply);
    HeaderMap headers;
    response.AddHeader(L"A", L"1");
    response.AddHeader(L"A", L"2");
    response.GetHeaders(headers);
    EXPECT_EQ((HeaderMap{{L"A", L"1"}}), headers);
    EXPECT_FALSE(response.ParseHeaderText(L"HTTP/1.1 409 Conflict\r\nB: 2\r\n: 3\r\nC: 4"));
    response.GetHeaders(headers);
    EXPECT_EQ((HeaderMap{{L"B", L"2"}}), headers); // header text replaces the map
    response.SetHeaders({{L"C", L"3"}});
    response.GetHeaders(headers);
    EXPECT_EQ((HeaderMap{{L"C", L"3"}}), headers);

    // A success is kept as bytes but never read, even when it looks like a reply with actions.
    std::string body = kActionsReply;
    Deliver(response, 204, body);
    body.assign(body.size(), 'x');
    EXPECT_EQ(204u, response.GetStatusCode());
    ASSERT_EQ(sizeof(kActionsReply) - 1, response.GetContentLength());
    EXPECT_EQ(kActionsReply, std::string(reinterpret_cast<const char*>(response.GetContent()), body.size()));
    const WebApiReply& reply = response.GetReply();
    EXPECT_TRUE(reply.m_message.Items().empty() && reply.m_code.empty() && reply.m_messageText.empty());
    EXPECT_FALSE(reply.m_hasActions);
    EXPECT_EQ(0, reply.m_serverTime);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_DATA), response.GetActionsResult());
    EXPECT_EQ(1u, dispatcher.batches.size());
    response.GetHeaders(headers);
    EXPECT_TRUE(headers.empty()); // the earlier reply's headers went with it

    // No bytes, no length.
    response.SetResult(SYSTEMTIME{2025, 1, 3, 1, 0, 0, 0, 0}, 200, nullptr, 5);
    EXPECT_EQ(2025, response.GetTime().wYear);
    EXPECT_EQ(nullptr, response.GetContent());
    EXPECT_EQ(0u, response.GetContentLength());
}

// Seeded mutations of server answers (Fuzz.h says what the case checks and how to run it longer).
TEST(CommsReadersFuzzTest, ServerAnswer)
{
    const std::vector<std::string> seeds = {
        kActionsReply, R"({"Code":"c","Message":"m","ServerTime":"1","Actions":{"C":"t","D":[{}],"":{"y":[true]}}})",
        R"({"Code":"c","Message":"m","ServerTime":" -42x","Actions":[{"A":{}}]})", "<html>busy</html>"};
    const DWORD statuses[] = {200, 204, 304, 400, 403, 404, 409, 500, 503, 0, 600};
    CFuzzRun run("server answer");
    run.ForEachInput([&](int) {
        const std::string body = run.Json(seeds);
        const DWORD status = statuses[run.Random()() % std::size(statuses)];
        CRecordingDispatcher handler;
        WebApiResponse response(&handler);
        Deliver(response, status, body);
        run.Expect(response.GetStatusCode() == status && response.GetContentLength() == body.size() &&
                       (body.empty() || std::memcmp(response.GetContent(), body.data(), body.size()) == 0),
                   "the content was not kept as given");
        const WebApiReply& reply = response.GetReply();
        const DWORD result = response.GetActionsResult();
        run.Outcome(std::to_string(HttpStatusToError(status)) + " " + std::to_string(result) + " " +
                    std::to_string(reply.m_code.empty()));
        if (HttpStatusToError(status) == ERROR_SUCCESS)
            run.Expect(reply.m_message.Items().empty() && reply.m_code.empty(), "a success answer was read");
        if (!run.Expect(handler.batches.size() == (result == ERROR_SUCCESS ? 1u : 0u) &&
                            (reply.m_hasActions || handler.batches.empty()),
                        "the actions raised do not match the reply"))
            return;
        for (const CMessageBatch& batch : handler.batches)
            for (const CMessageObject& event : batch.objects)
            {
                std::wstring text;
                CMessageObject again;
                run.Expect(event.Serialize(text) && again.FromJson(text) && CarriesId(again, batch.eventId),
                           "a raised action is no JSON object with the batch's event id");
            }
    });
    run.ExpectClean(8);
}
