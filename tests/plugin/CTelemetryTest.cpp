#include "plugin/CTelemetry.h"

#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"
#include "TraceCapture.h"
#include "message/CMessageObject.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>

namespace
{

// Records what ran with which payload, stamping a shared clock on entry and exit; answers with the payload's
// "Result" when it has one, throws what its "Throw" names, and holds its event while "Hold" is true until the
// test lets it go.
class CTelemetryTest : public ::testing::Test
{
protected:
    struct Stamps
    {
        int entered = 0, left = 0;
    };

    struct CRecorder : ITelemetryEventProcessor
    {
        CRecorder(CTelemetryTest& fixture, TelemetryEvent kind) : m_fixture(fixture), m_kind(kind) {}
        DWORD Process(CMessageObject* payload) override
        {
            static const wchar_t* const names[] = {L"PluginExecute", L"TrackingSend", L"FileUpload"};
            std::wstring marker, toThrow;
            payload->GetString(L"Marker", marker);
            bool hold = false;
            payload->GetBool(L"Hold", hold);
            {
                CTelemetryTest& f = m_fixture;
                std::unique_lock<std::mutex> lock(f.m_mutex);
                f.m_ran += std::wstring(names[static_cast<int>(m_kind)]) + L"(" + marker + L")";
                f.m_stamps[marker].entered = ++f.m_clock;
                f.m_changed.notify_all();
                if (hold)
                    f.m_changed.wait(lock, [&] { return f.m_released.count(marker) != 0; });
                f.m_stamps[marker].left = ++f.m_clock;
                f.m_changed.notify_all();
            }
            if (payload->GetString(L"Throw", toThrow))
            {
                if (toThrow == L"bad_alloc")
                    throw std::bad_alloc();
                if (toThrow == L"int")
                    throw 5;
                throw std::runtime_error("processor failed");
            }
            std::uint32_t result = ERROR_SUCCESS;
            payload->GetUInt32(L"Result", result);
            return result;
        }

        CTelemetryTest& m_fixture;
        TelemetryEvent m_kind;
    };

    DWORD Deliver(const std::string& json)
    {
        CMessageObject event;
        if (!event.FromUtf8Json(json.c_str()))
            ADD_FAILURE() << "test event does not parse: " << json;
        return m_telemetry.ProcessEvent(&event);
    }
    DWORD Deliver(const char* name, const char* marker, bool hold)
    {
        return Deliver(std::string("{\"") + name + "\": {\"Marker\": \"" + marker +
                       "\", \"Hold\": " + (hold ? "true" : "false") + "}}");
    }

    bool Entered(const std::wstring& marker, std::chrono::milliseconds time = std::chrono::seconds(30))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, time, [&] { return m_stamps[marker].entered != 0; });
    }
    void Release(const std::wstring& marker)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_released.insert(marker);
        m_changed.notify_all();
    }

    CFakeConfigUtil m_config;
    CNoDispatcher m_dispatcher;
    bool m_noProcessor = false;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::wstring m_ran;
    int m_clock = 0;
    std::map<std::wstring, Stamps> m_stamps;
    std::set<std::wstring> m_released;
    CTelemetry m_telemetry{&m_config, &m_dispatcher, [this](TelemetryEvent kind) {
                               return m_noProcessor ? nullptr : std::make_shared<CRecorder>(*this, kind);
                           }};
};

} // namespace

TEST_F(CTelemetryTest, RoutesByExactNameToTheNamedPayload)
{
    const struct
    {
        const char* event;
        DWORD result;
        const wchar_t* ran;
    } rows[] = {
        {R"({"TrackingSend": {"Marker": "t", "Result": 7}})", 7, L"TrackingSend(t)"},
        {R"({"FileUpload": {"Marker": "f"}})", 0, L"FileUpload(f)"},
        {R"({"PluginExecute": {"Marker": "p", "Result": 1460}})", 1460, L"PluginExecute(p)"},
        // The first Object item names the event; its own object is the payload.
        {R"({"Id": 5, "FileUpload": {"Marker": "second"}, "TrackingSend": {"Marker": "x"}})", 0, L"FileUpload(second)"},
        // Names are compared exactly.
        {R"({"trackingsend": {"Marker": "t"}})", ERROR_NOT_FOUND, L""},
        // Nothing names the event.
        {R"({"TrackingSend": 5, "Count": 1})", ERROR_INVALID_PARAMETER, L""},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.event);
        m_ran.clear();
        EXPECT_EQ(row.result, Deliver(row.event));
        EXPECT_EQ(row.ran, m_ran);
    }
}

TEST_F(CTelemetryTest, PayloadThatIsNoObjectRunsNothing)
{
    // A named event object whose payload item is a number, a text or an array: answered 0, with a warning.
    CTraceCapture capture(CTraceCapture::Route::TraceMessage, kTraceLevelWarning, kTraceFlagEvents);
    for (const auto& payload : {CMessageItem(L"TrackingSend", 5u), CMessageItem(L"TrackingSend", L"text")})
    {
        CMessageObject event(L"TrackingSend");
        event.AddItem(payload, true);
        EXPECT_EQ(0u, m_telemetry.ProcessEvent(&event));
    }
    CMessageObject withArray(L"FileUpload");
    withArray.AddArray(L"FileUpload");
    EXPECT_EQ(0u, m_telemetry.ProcessEvent(&withArray));
    CMessageObject withoutPayload(L"FileUpload");
    EXPECT_EQ(0u, m_telemetry.ProcessEvent(&withoutPayload));
    EXPECT_EQ(L"", m_ran);
    constexpr GUID kTelemetryUnit = trace::ParseGuid("9a4e0f7b-3c61-4d2a-8e15-6b7f2c9d0a43");
    EXPECT_EQ(capture.Count(kTelemetryUnit, 19), 4u);

    // The event object's own name routes it when it has one.
    CMessageObject named(L"TrackingSend");
    named.AddObject(L"TrackingSend", true)->AddString(L"Marker", L"n");
    EXPECT_EQ(0u, m_telemetry.ProcessEvent(&named));
    EXPECT_EQ(L"TrackingSend(n)", m_ran);
}

TEST_F(CTelemetryTest, FailuresBecomeNumbers)
{
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_telemetry.ProcessEvent(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), Deliver(R"({"FileUpload": {"Throw": "bad_alloc"}})"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNAL_ERROR), Deliver(R"({"PluginExecute": {"Throw": "other"}})"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNAL_ERROR), Deliver(R"({"TrackingSend": {"Throw": "int"}})"));
    // The controls were left on the way out: the next events are admitted at once.
    EXPECT_EQ(3u, Deliver(R"({"FileUpload": {"Result": 3}})"));
    EXPECT_EQ(4u, Deliver(R"({"PluginExecute": {"Result": 4}})"));

    m_noProcessor = true;
    EXPECT_EQ(0u, Deliver(R"({"TrackingSend": {"Result": 9}})"));
}

TEST_F(CTelemetryTest, NeedsAConfigurationUtility)
{
    EXPECT_THAT([&] { CTelemetry telemetry(nullptr, &m_dispatcher, nullptr); },
                ::testing::ThrowsMessage<std::logic_error>(::testing::StrEq("m_configUtil is nullptr")));
}

TEST_F(CTelemetryTest, FileUploadsRunOneAfterAnotherWhileOthersGoOn)
{
    std::thread first([&] { Deliver("FileUpload", "upload 1", true); });
    ASSERT_TRUE(Entered(L"upload 1"));
    std::thread second([&] { Deliver("FileUpload", "upload 2", false); });

    // While the first upload is held, a tracking hit and a plug-in run go through at once.
    EXPECT_EQ(0u, Deliver("TrackingSend", "tracking", false));
    std::thread plugin([&] { Deliver("PluginExecute", "plugin", true); });
    EXPECT_TRUE(Entered(L"plugin"));
    Release(L"plugin");
    plugin.join();
    // The second upload waits for the first however long it is held.
    EXPECT_FALSE(Entered(L"upload 2", std::chrono::milliseconds(200)));

    Release(L"upload 1");
    first.join();
    second.join();
    EXPECT_GT(m_stamps[L"upload 2"].entered, m_stamps[L"upload 1"].left);
    EXPECT_LT(m_stamps[L"tracking"].left, m_stamps[L"upload 1"].left);
    EXPECT_LT(m_stamps[L"plugin"].left, m_stamps[L"upload 1"].left);
}
