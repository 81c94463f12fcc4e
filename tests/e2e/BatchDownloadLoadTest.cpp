// The batch downloader under load: many files from a peer repository (Merrow.dll, listed by Pelter.dll) that
// drops or fails some answers, and a web server that does the same.

#include "CBatchDownloadInstall.h"
#include "CMerrowRepository.h"

#include <gtest/gtest.h>

namespace
{

class BatchDownloadLoadTest : public ::testing::Test, protected CBatchDownloadInstall
{
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(CBatchDownloadInstall::SetUp()); }
    void TearDown() override { CBatchDownloadInstall::TearDown(); }
};

// Each file ends committed with its MD5 or carrying the error number of its last try.
TEST_F(BatchDownloadLoadTest, ManyFilesFromFailingServersEndCommittedOrWithTheirError)
{
    MakeFiles(200, 1024 * 1024, {L"PeerRepository"});
    WriteBytes(Folder(L"Peer") + L"config.json",
               R"({"Merrow.Fault.Seed":7,"Merrow.Fault.DropPercent":10,)"
               R"("Merrow.Fault.ServerErrorPercent":10,"Merrow.Fault.RefuseContent":true})");
    m_server.InjectFaults(CFaultPlan{11, 0.2, 0.2});
    CMerrowRepository peer(Folder(L"Peer"), Folder(L"PeerRepository"));
    ASSERT_NE(peer.port, 0);
    SetPeers({peer.port}, peer.port);

    EXPECT_TRUE(MakeDownloader(1)->Download());
    std::size_t failed = 0;
    for (const auto& file : m_files)
    {
        SCOPED_TRACE(WideToUtf8(file->url));
        if (file->done)
        {
            EXPECT_TRUE(Md5OfFileMatches(file->target, file->md5));
        }
        else
        {
            EXPECT_NE(file->error, 0u);
        }
        failed += file->done ? 0 : 1;
    }
    EXPECT_EQ(Committed() + failed, m_files.size());
    EXPECT_GT(failed, 0u);
    EXPECT_GT(ModuleExport<CMerrowRepository::CountFn>(peer.Module(), "MerrowFaultsStruck")(), 0u);
}

} // namespace
