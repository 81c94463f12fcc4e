#include "CAgentInstall.h"
#include "CMerrowRepository.h"

#include "host/IRepositoryManager.h"
#include "platform/Files.h"

#include <httplib.h>

#include <gtest/gtest.h>

#include <string>

namespace
{

std::wstring AddContentRequest(const std::string& url, std::size_t size)
{
    const std::wstring wideUrl(url.begin(), url.end());
    return L"{\"AddRepositoryContent\":{\"Content\":[{\"Scope\":\"Telemetry\",\"Files\":[{\"Url\":\"" + wideUrl +
           L"\",\"Size\":" + std::to_wstring(size) + L"}]}]}}";
}

TEST(RepositoryPeersTest, FilePlacedInOneRepositoryIsServedAndFetchedIntoAnother)
{
    CAgentInstall install;
    ASSERT_TRUE(install.AddComponents());
    for (const wchar_t* folder : {L"Peer", L"PeerRepository", L"LocalRepository"})
        ASSERT_TRUE(::CreateDirectoryW((install.Folder() + folder).c_str(), nullptr));
    ASSERT_TRUE(install.Add(L"Merrow.dll", L"Peer"));
    const auto folderOf = [&](const wchar_t* name) { return install.Folder() + name + L"\\"; };
    CMerrowRepository peer(folderOf(L"Peer"), folderOf(L"PeerRepository"));
    CMerrowRepository local(folderOf(L"Repository"), folderOf(L"LocalRepository"));
    ASSERT_NE(peer.port, 0);
    ASSERT_NE(local.port, 0);
    ASSERT_NE(peer.Module(), local.Module());

    ASSERT_TRUE(::CreateDirectoryW((folderOf(L"PeerRepository") + L"Telemetry").c_str(), nullptr));
    ASSERT_EQ(WriteWholeFile(folderOf(L"PeerRepository") + L"Telemetry\\package.zip", "ten bytes!"), ERROR_SUCCESS);

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
    EXPECT_EQ(local.outstanding(), 1u); // its own manager only
}

} // namespace
