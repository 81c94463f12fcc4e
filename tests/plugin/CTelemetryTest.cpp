#include "plugin/CTelemetry.h"

#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"
#include "message/CMessageObject.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <condition_variable>
#include <new>
#include <stdexcept>
#include <thread>

namespace
{

const wchar_t* NameOf(TelemetryEvent kind)
{
    switch (kind)
    {
    case TelemetryEvent::PluginExecute:
        return L"PluginExecute";
    case TelemetryEvent::TrackingSend:
        return L"TrackingSend";
    case TelemetryEvent::FileUpload:
        return L"FileUpload";
    }
    return L"?";
}

// Records what ran with which payload; answers with the payload's "Result" when it has one.
class CRoutingFixture : public ::testing::Test
{
protected:
    CRoutingFixture()
        : m_telemetry(&m_config, &m_dispatcher, [this](TelemetryEvent kind) { return Make(kind); })
    {
    }

    class CRecorder : public ITelemetryEventProcessor
    {
    public:
        CRecorder(CRoutingFixture& fixture, TelemetryEvent kind) : m_fixture(fixture), m_kind(kind) {}
        DWORD Process(CMessageObject* payload) override
        {
            std::wstring marker;
            payload->GetString(L"Marker", marker);
            m_fixture.m_ran += std::wstring(NameOf(m_kind)) + L"(" + marker + L")";
            std::uint32_t result = ERROR_SUCCESS;
            payload->GetUInt32(L"Result", result);
            std::wstring toThrow;
            if (payload->GetString(L"Throw", toThrow))
            {
                if (toThrow == L"bad_alloc")
                    throw std::bad_alloc();
                throw std::runtime_error("processor failed");
            }
            return result;
        }

    private:
        CRoutingFixture& m_fixture;
        TelemetryEvent m_kind;
    };

    std::shared_ptr<ITelemetryEventProcessor> Make(TelemetryEvent kind)
    {
        if (m_noProcessor)
            return nullptr;
        return std::make_shared<CRecorder>(*this, kind);
    }

    DWORD Deliver(const char* json)
    {
        CMessageObject event;
        if (!event.FromUtf8Json(json))
            ADD_FAILURE() << "test event does not parse: " << json;
        return m_telemetry.ProcessEvent(&event);
    }

    CFakeConfigUtil m_config;
    CNoDispatcher m_dispatcher;
    bool m_noProcessor = false;
    std::wstring m_ran;
    CTelemetry m_telemetry;
};

using CTelemetryRoutingTest = CRoutingFixture;

} // namespace

TEST_F(CTelemetryRoutingTest, NameAndEvents)
{
    EXPECT_EQ(L"Telemetry", m_telemetry.GetName());
    std::vector<std::wstring> events = {L"stale", L"names"};
    m_telemetry.GetEvents(events);
    EXPECT_EQ((std::vector<std::wstring>{L"PluginExecute", L"TrackingSend", L"FileUpload"}), events);
    EXPECT_EQ(0u, m_telemetry.Initialize());
}

TEST_F(CTelemetryRoutingTest, RoutesByExactNameToTheNamedPayload)
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
        {R"({"Id": 5, "FileUpload": {"Marker": "second"}, "TrackingSend": {"Marker": "x"}})", 0,
         L"FileUpload(second)"},
        // Names are compared exactly.
        {R"({"trackingsend": {"Marker": "t"}})", ERROR_NOT_FOUND, L""},
        {R"({"TrackingSend ": {}})", ERROR_NOT_FOUND, L""},
        {R"({"Other": {}})", ERROR_NOT_FOUND, L""},
        // Nothing names the event.
        {R"({})", ERROR_INVALID_PARAMETER, L""},
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

TEST_F(CTelemetryRoutingTest, PayloadThatIsNoObjectRunsNothing)
{
    // A named event object whose payload item is a number, a text or an array: answered 0.
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

    // The event object's own name routes it when it has one.
    CMessageObject named(L"TrackingSend");
    named.AddObject(L"TrackingSend", true)->AddString(L"Marker", L"n");
    EXPECT_EQ(0u, m_telemetry.ProcessEvent(&named));
    EXPECT_EQ(L"TrackingSend(n)", m_ran);
}

TEST_F(CTelemetryRoutingTest, FailuresBecomeNumbers)
{
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), m_telemetry.ProcessEvent(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), Deliver(R"({"FileUpload": {"Throw": "bad_alloc"}})"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INTERNAL_ERROR), Deliver(R"({"PluginExecute": {"Throw": "other"}})"));
    // The controls were left on the way out: the next events are admitted at once.
    EXPECT_EQ(3u, Deliver(R"({"FileUpload": {"Result": 3}})"));
    EXPECT_EQ(4u, Deliver(R"({"PluginExecute": {"Result": 4}})"));

    m_noProcessor = true;
    EXPECT_EQ(0u, Deliver(R"({"TrackingSend": {"Result": 9}})"));
}

TEST(CTelemetryTest, NeedsAConfigurationUtility)
{
    CNoDispatcher dispatcher;
    try
    {
        CTelemetry telemetry(nullptr, &dispatcher, nullptr);
        FAIL() << "built without a configuration utility";
    }
    catch (const std::logic_error& e)
    {
        EXPECT_STREQ("m_configUtil is nullptr", e.what());
    }
}

namespace
{

// Processors that hold their event until the test lets it go, stamping a shared clock on entry and exit.
class CGatedProcessors
{
public:
    struct Stamps
    {
        int entered = 0;
        int left = 0;
    };

    std::shared_ptr<ITelemetryEventProcessor> Make()
    {
        return std::make_shared<CGated>(*this);
    }

    void WaitUntilEntered(const std::wstring& marker)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stamps[marker].entered != 0; });
    }
    bool EnteredWithin(const std::wstring& marker, std::chrono::milliseconds time)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, time, [&] { return m_stamps[marker].entered != 0; });
    }
    void Release(const std::wstring& marker)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_released[marker] = true;
        m_changed.notify_all();
    }
    Stamps StampsOf(const std::wstring& marker)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_stamps[marker];
    }

private:
    class CGated : public ITelemetryEventProcessor
    {
    public:
        explicit CGated(CGatedProcessors& owner) : m_owner(owner) {}
        DWORD Process(CMessageObject* payload) override
        {
            std::wstring marker;
            payload->GetString(L"Marker", marker);
            bool hold = false;
            payload->GetBool(L"Hold", hold);
            std::unique_lock<std::mutex> lock(m_owner.m_mutex);
            m_owner.m_stamps[marker].entered = ++m_owner.m_clock;
            m_owner.m_changed.notify_all();
            if (hold)
                m_owner.m_changed.wait(lock, [&] { return m_owner.m_released[marker]; });
            m_owner.m_stamps[marker].left = ++m_owner.m_clock;
            m_owner.m_changed.notify_all();
            return ERROR_SUCCESS;
        }

    private:
        CGatedProcessors& m_owner;
    };

    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_clock = 0;
    std::map<std::wstring, Stamps> m_stamps;
    std::map<std::wstring, bool> m_released;
};

DWORD DeliverEvent(CTelemetry& telemetry, const wchar_t* name, const wchar_t* marker, bool hold)
{
    CMessageObject event;
    CMessageObject* payload = event.AddObject(name, true);
    payload->AddString(L"Marker", marker);
    payload->AddBool(L"Hold", hold);
    return telemetry.ProcessEvent(&event);
}

} // namespace

TEST(CTelemetryConcurrencyTest, FileUploadsRunOneAfterAnotherWhileOthersGoOn)
{
    CFakeConfigUtil config;
    CNoDispatcher dispatcher;
    CGatedProcessors gate;
    CTelemetry telemetry(&config, &dispatcher, [&](TelemetryEvent) { return gate.Make(); });

    std::thread first([&] { DeliverEvent(telemetry, L"FileUpload", L"upload 1", true); });
    gate.WaitUntilEntered(L"upload 1");
    std::thread second([&] { DeliverEvent(telemetry, L"FileUpload", L"upload 2", false); });

    // While the first upload is held, a tracking hit and a plug-in run go through at once.
    EXPECT_EQ(0u, DeliverEvent(telemetry, L"TrackingSend", L"tracking", false));
    std::thread plugin([&] { DeliverEvent(telemetry, L"PluginExecute", L"plugin", true); });
    gate.WaitUntilEntered(L"plugin");
    gate.Release(L"plugin");
    plugin.join();
    // The second upload waits for the first however long it is held.
    EXPECT_FALSE(gate.EnteredWithin(L"upload 2", std::chrono::milliseconds(200)));

    gate.Release(L"upload 1");
    first.join();
    second.join();
    const auto upload1 = gate.StampsOf(L"upload 1");
    const auto upload2 = gate.StampsOf(L"upload 2");
    const auto tracking = gate.StampsOf(L"tracking");
    const auto pluginRun = gate.StampsOf(L"plugin");
    EXPECT_GT(upload2.entered, upload1.left);
    EXPECT_LT(tracking.left, upload1.left);
    EXPECT_LT(pluginRun.left, upload1.left);
}
