#include "CAgentInstall.h"
#include "CMerrowRepository.h"
#include "CServerFixture.h"
#include "ModuleExport.h"

#include "host/ComponentExports.h"
#include "host/IDiscoveryInterface.h"
#include "host/IRemoteEndpointControlClient.h"
#include "host/IRepositoryManager.h"
#include "platform/CUniqueHandle.h"
#include "platform/Files.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace
{

using CountFn = CMerrowRepository::CountFn;

std::wstring AddContentRequest(const std::string& url, std::size_t size)
{
    const std::wstring wideUrl(url.begin(), url.end());
    return L"{\"AddRepositoryContent\":{\"Content\":[{\"Scope\":\"Telemetry\",\"Files\":[{\"Url\":\"" + wideUrl +
           L"\",\"Size\":" + std::to_wstring(size) + L"}]}]}}";
}

class RepositoryPeersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_install.AddComponents());
        for (const wchar_t* folder : {L"Peer", L"PeerRepository", L"LocalRepository", L"Served"})
            ASSERT_TRUE(::CreateDirectoryW((m_install.Folder() + folder).c_str(), nullptr));
        ASSERT_TRUE(m_install.Add(L"Merrow.dll", L"Peer"));
    }

    std::wstring Folder(const wchar_t* name) const { return m_install.Folder() + name + L"\\"; }

    CAgentInstall m_install;
};

TEST_F(RepositoryPeersTest, FilePlacedInOneRepositoryIsServedAndFetchedIntoAnother)
{
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    CMerrowRepository local(Folder(L"Repository"), Folder(L"LocalRepository"));
    ASSERT_NE(peer.port, 0);
    ASSERT_NE(local.port, 0);
    ASSERT_NE(peer.Module(), local.Module());

    ASSERT_TRUE(::CreateDirectoryW((Folder(L"PeerRepository") + L"Telemetry").c_str(), nullptr));
    ASSERT_EQ(WriteWholeFile(Folder(L"PeerRepository") + L"Telemetry\\package.zip", "ten bytes!"), ERROR_SUCCESS);

    httplib::Client client("127.0.0.1", peer.port);
    const auto served = client.Get("/Telemetry/package.zip");
    ASSERT_TRUE(served);
    EXPECT_EQ(served->status, 200);
    EXPECT_EQ(served->body, "ten bytes!");
    const std::string modified = served->get_header_value("Last-Modified");
    ASSERT_FALSE(modified.empty());
    const auto unchanged = client.Get("/Telemetry/package.zip", httplib::Headers{{"If-Modified-Since", modified}});
    ASSERT_TRUE(unchanged);
    EXPECT_EQ(unchanged->status, 304);
    const auto missing = client.Get("/Telemetry/missing.zip");
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);

    // The local repository takes the peer's file by URL; one told the wrong size is not kept.
    const std::string url = peer.Url("/Telemetry/package.zip");
    EXPECT_EQ(local.manager->AddRepositoryContent(AddContentRequest(url, 10).c_str()), ERROR_SUCCESS);
    EXPECT_EQ(local.manager->AddRepositoryContent(AddContentRequest(peer.Url("/Telemetry/package.zip?x"), 9).c_str()),
              ERROR_SUCCESS);
    EXPECT_EQ(local.manager->AddRepositoryContent(L"{\"Other\":{}}"), ERROR_INVALID_DATA);
    ASSERT_TRUE(local.waitIdle(10000));
    EXPECT_EQ(local.refused(), 1u);
    const auto fetched = httplib::Client("127.0.0.1", local.port).Get("/Telemetry/Telemetry/package.zip");
    ASSERT_TRUE(fetched);
    EXPECT_EQ(fetched->status, 200);
    EXPECT_EQ(fetched->body, "ten bytes!");
    EXPECT_EQ(local.outstanding(), 1u);   // its own manager only
}

TEST_F(RepositoryPeersTest, ContentRequestReachesPeerThroughEitherRoute)
{
    CServerFixture server;
    server.ServeFiles("/files/", Folder(L"Served"));
    ASSERT_EQ(WriteWholeFile(Folder(L"Served") + L"a.bin", "from the server"), ERROR_SUCCESS);
    ASSERT_EQ(WriteWholeFile(Folder(L"Served") + L"b.bin", "second file"), ERROR_SUCCESS);

    const CModule fenrik(::LoadLibraryW((Folder(L"Utils") + L"Fenrik.dll").c_str()));
    const CModule yarran(::LoadLibraryW((Folder(L"Utils") + L"Yarran.dll").c_str()));
    ASSERT_TRUE(fenrik && yarran);
    const auto getClient = ModuleExport<GetIRemoteEndpointControlClientFn>(fenrik.Get(), "GetIRemoteEndpointControlClient");
    const auto freeClient = ModuleExport<FreeIRemoteEndpointControlClientFn>(fenrik.Get(), "FreeIRemoteEndpointControlClient");
    const auto getDiscovery = ModuleExport<GetDiscoveryInterfaceFn>(yarran.Get(), "get_discovery_interface");
    ASSERT_TRUE(getClient && freeClient && getDiscovery);

    IRemoteEndpointControlClient* client = getClient();
    DWORD error = 0;
    IDiscoveryInterface* discovery = getDiscovery(&error);
    ASSERT_TRUE(client && discovery);

    std::wstring address;
    DiscoveryRepositoryMessage record{};
    record.version = kDiscoveryMessageVersion;
    std::wcscpy(record.service, L"Repository");
    record.kind = L"event";
    record.parameters = L"{}";
    const std::wstring bodyB = AddContentRequest(server.BaseUrl() + "/files/b.bin", 11);
    record.body = bodyB.c_str();
    {
        CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
        ASSERT_NE(peer.port, 0);
        address = L"127.0.0.1:" + std::to_wstring(peer.port);
        std::wcscpy(record.host, address.c_str());

        EXPECT_TRUE(client->SendRequest(address.c_str(), AddContentRequest(server.BaseUrl() + "/files/a.bin", 15).c_str()));
        EXPECT_EQ(discovery->SendRepositoryMessage(&record), ERROR_SUCCESS);
        EXPECT_FALSE(client->SendRequest(address.c_str(), L"{\"NotContent\":1}"));
        ASSERT_TRUE(peer.waitIdle(10000));

        httplib::Client reader("127.0.0.1", peer.port);
        const auto a = reader.Get("/Telemetry/files/a.bin");
        const auto b = reader.Get("/Telemetry/files/b.bin");
        ASSERT_TRUE(a && b);
        EXPECT_EQ(a->body, "from the server");
        EXPECT_EQ(b->body, "second file");
    }
    // The peer is down.
    EXPECT_FALSE(client->SendRequest(address.c_str(), bodyB.c_str()));
    EXPECT_NE(discovery->SendRepositoryMessage(&record), ERROR_SUCCESS);

    freeClient(client);
    discovery->Release();
    EXPECT_EQ(ModuleExport<CountFn>(fenrik.Get(), "FenrikOutstandingObjects")(), 0u);
    EXPECT_EQ(ModuleExport<CountFn>(yarran.Get(), "YarranOutstandingObjects")(), 0u);
}

} // namespace
