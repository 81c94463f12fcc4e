#include "CFakeComms.h"
#include "CFakeComponents.h"
#include "CFakeConfigUtil.h"

#include "comms/CMessageDispatcher.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

using W = const wchar_t*;

// The component and its one client at once, noting creations and operations as "what|argument|...".
struct CDataComms : CFakeComms, CStubDataServiceClient
{
    std::vector<std::wstring> calls;
    bool creates = true, succeeds = true;

    bool Note(std::initializer_list<std::wstring> parts)
    {
        calls.emplace_back();
        for (const std::wstring& part : parts)
            calls.back() += (calls.back().empty() ? L"" : L"|") + part;
        return succeeds;
    }
    IDataServiceClient* CreateDataServiceClient(W ua, W host, W service, int product, W version, W device,
                                                const AuthorizationRecord* auth, W prefix, W site) override
    {
        Note({L"create", ua, host, service, std::to_wstring(product), version, device, auth->m_authorizationId,
              prefix, site});
        return creates ? HandOut(static_cast<IDataServiceClient*>(this)) : nullptr;
    }
    bool UploadFile(W c, W n, W p) override { return Note({L"file", c, n, p}); }
    bool SendToQueue(W q, W m, W l) override { return Note({L"queue", q, m, l}); }
    bool UploadToDataContainer(W o, W w, W p, W t, const DataServiceHeaders& headers) override
    {
        std::wstring sent;
        for (const auto& [name, value] : headers)
            sent += name + L'=' + value + L';';
        return Note({L"container", o, w, p, t, sent});
    }
};

// The operations, on service "S"; a handed-out client is given back at once.
const DataServiceHeaders kHeaders = {{L"x-a", L"\u00e9 1"}, {L"x-b", L"\t"}, {L"x c", L"3"},
                                     {L"", L"4"},          {L"x:d", L"5"},  {L"x-e", L"6\r\nx-f: 7"}};
using Op = bool (*)(CMessageDispatcher&);
bool Given(CMessageDispatcher& d, IDataServiceClient* client) { return d.ReleaseClient(client), client != nullptr; }
bool File(CMessageDispatcher& d) { return d.UploadFile(L"S", L"f", L"name"); }
bool Queue(CMessageDispatcher& d) { return d.SendToQueue(L"S", L"message", L"label"); }
bool DataById(CMessageDispatcher& d) { return Given(d, d.OpenDataByIdClient(L"S", L"caller")); }
bool EventHub(CMessageDispatcher& d) { return Given(d, d.OpenEventHubClient(L"S")); }
bool Container(CMessageDispatcher& d) { return d.UploadToDataContainer(L"S", L"f", L"text", L"op", L"me", kHeaders); }

class MessageDispatcherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const auto& [key, value] :
             {std::pair{L"Defaults.DeviceId", L"dev"}, {L"Defaults.SiteId", L"site"}, {L"Defaults.Hostname", L"data"},
              {L"Defaults.Container", L"box"}, {L"Defaults.User-Agent", L"ua"}, {L"Defaults.Service", L"svc"},
              {L"Defaults.ProductVersion", L"9"}, {L"Defaults.PathPrefix", L"pre"},
              {L"Authorization.AuthorizationId", L"id"}, {L"Authorization.Secret", L"s"}})
            m_config.Set(std::wstring(L"Services.") + key, value);
    }
    void TearDown() override
    {
        EXPECT_EQ(m_comms.Outstanding(), 0);
        EXPECT_EQ(m_comms.BadReleases(), 0);
        EXPECT_EQ(m_components.Outstanding(), 0);
    }

    bool Run(Op op, const wchar_t* type)
    {
        m_config.Set(L"Services.S.Type", type);
        CMessageDispatcher dispatcher(&m_config, &m_components);
        return op(dispatcher);
    }

    CFakeConfigUtil m_config;
    CDataComms m_comms;
    CFakeComponents m_components{&m_comms};
};

} // namespace

// A service that does not fit gets no client; whatever was made is given back (see TearDown).
TEST_F(MessageDispatcherTest, OnlyAFittingServiceIsUsed)
{
    constexpr W kDevice = L"Services.Defaults.DeviceId", kSite = L"Services.Defaults.SiteId";
    constexpr W kSecret = L"Services.Authorization.Secret";
    // calls: creations and operations of clients; removed: the setting taken away.
    const struct { Op op; W type; bool result; int calls; W removed = nullptr; bool creates = true, succeeds = true; }
        rows[] = {
            {File, L"FileUpload", true, 2},                {File, L"fileupload", false, 0},
            {File, L"DataContainer", false, 0},            {Queue, L"Queue", true, 2},
            {DataById, L"GetDataById", true, 1, kDevice},  {DataById, L"SetDataById", true, 1},
            {DataById, L"EventHub", false, 0},             {EventHub, L"EventHub", true, 1},
            {EventHub, L"EventHub", false, 0, kDevice},    {Container, L"DataContainer", true, 2},
            {Container, L"FileUpload", false, 0},          {File, L"FileUpload", false, 0, kSite},
            {Container, L"DataContainer", false, 0, kSecret},
            {Queue, L"Queue", false, 1, nullptr, false},                   // no client
            {Container, L"DataContainer", false, 2, nullptr, true, false}, // the upload fails
            {File, L"FileUpload", false, 2, nullptr, true, false},         // the file upload fails
            {Queue, L"Queue", false, 2, nullptr, true, false},             // the message is not sent
        };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(&row - rows);
        SetUp();
        if (row.removed != nullptr)
            m_config.RemoveValue(row.removed);
        m_comms.calls.clear();
        m_comms.creates = row.creates;
        m_comms.succeeds = row.succeeds;
        EXPECT_EQ(Run(row.op, row.type), row.result);
        EXPECT_EQ(static_cast<int>(m_comms.calls.size()), row.calls);
    }
}

TEST_F(MessageDispatcherTest, ArgumentsComeFromTheServiceThenDefaultsInTheirOrder)
{
    m_config.Set(L"Services.S.Hostname", L"own.test"); // over the default
    m_config.Set(L"Services.S.Product", L"x12");
    m_config.Set(L"Services.S.Container", L"mine");
    ASSERT_TRUE(Run(File, L"FileUpload"));
    ASSERT_TRUE(Run(Queue, L"Queue"));
    ASSERT_TRUE(Run(DataById, L"GetDataById")); // for the caller's device, not the configured one
    ASSERT_TRUE(Run(Container, L"DataContainer"));
    const std::wstring created = L"create|ua|own.test|svc|0|9|dev|id|pre|site";
    const std::vector<std::wstring> expected = {created, L"file|mine|name|f", created, L"queue|mine|message|label",
                                                L"create|ua|own.test|svc|0|9|caller|id|pre|site", created,
                                                L"container|op|me|f|text|x-a=\u00e9 1;"};
    EXPECT_EQ(m_comms.calls, expected);
}

// A handed-out client may use its proxy routes and trust until it is given back.
TEST_F(MessageDispatcherTest, HandedOutClientsKeepTheirSettingsUntilGivenBack)
{
    m_config.Set(L"Services.S.Type", L"EventHub");
    CStubDataServiceClient stranger;
    CMessageDispatcher dispatcher(&m_config, &m_components);
    IDataServiceClient* client = dispatcher.OpenEventHubClient(L"S");
    ASSERT_NE(client, nullptr);
    EXPECT_NE(m_comms.proxies, nullptr);
    EXPECT_NE(m_comms.trust, nullptr);
    const int withSettings = m_comms.Outstanding();
    EXPECT_GE(withSettings, 3);
    dispatcher.ReleaseEventHubClient(client);
    EXPECT_EQ(m_comms.Outstanding(), 0);
    dispatcher.ReleaseClient(client); // twice, or not ours: left alone
    dispatcher.ReleaseClient(&stranger);
    ASSERT_NE(dispatcher.OpenEventHubClient(L"S"), nullptr); // never given back: the dispatcher's end does
    EXPECT_EQ(m_comms.Outstanding(), withSettings);
}

// Without configuration or without the communications component there is no dispatcher, each with its own text.
TEST_F(MessageDispatcherTest, ConstructionNamesWhatIsMissing)
{
    EXPECT_THAT([] { CMessageDispatcher(nullptr, nullptr); },
                ::testing::ThrowsMessage<std::invalid_argument>(::testing::StrEq("configUtil")));
    m_components.commsLoads = false;
    EXPECT_THAT([&] { CMessageDispatcher(&m_config, &m_components); },
                ::testing::ThrowsMessage<std::logic_error>(::testing::StrEq("Cannot Initialize CommsWrapper")));
    m_components.commsLoads = true;
    CFakeComponents giveNothing(nullptr);
    EXPECT_THAT([&] { CMessageDispatcher(&m_config, &giveNothing); },
                ::testing::ThrowsMessage<std::logic_error>(::testing::StrEq("Cannot Initialize CommsWrapper")));
    EXPECT_EQ(giveNothing.Outstanding(), 0);
}
