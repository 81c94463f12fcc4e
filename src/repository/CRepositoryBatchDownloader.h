#pragma once
// Fetches a set of files with as little traffic to the management server as possible: from the agent's own
// repository server and the peers the agent services component knows, by asking a peer that answered to
// fetch missing files into its repository for a later attempt, and directly from the files' own URLs.
// One Download() is one attempt; the owner waits GetRetryWait() between attempts and may keep what a later
// attempt needs with SaveState()/LoadState(). Driven by one thread at a time.

#include "host/CAgentServiceProvider.h"
#include "host/CLogWriter.h"
#include "host/IAgentServiceClient.h"
#include "host/IDispatcherHelper.h"
#include "repository/CRepositoryConsumer.h"
#include "repository/IBatchDownloader.h"
#include "repository/IDownloadableFile.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CJobBehind;

namespace Repository
{

enum class DownloadResult : std::uint32_t;

class CRepositoryBatchDownloader : public IBatchDownloader,
                                   public CRepositoryConsumer,
                                   public CLogWriter
{
public:
    using Files = std::vector<IDownloadableFile*>;
    // A request entry: the file's full URL and its size.
    using Batch = std::vector<std::pair<std::wstring, std::uint64_t>>;

    // files must outlive the downloader. A null dispatcher takes the module's; a null configUtil the
    // module's, std::invalid_argument("configUtil") when there is none.
    CRepositoryBatchDownloader(const Files* files, ILogService* log, IDispatcherHelper* dispatcher,
                               IConfigUtil* configUtil, std::uint32_t directEveryAttempt, std::wstring scope);
    ~CRepositoryBatchDownloader() override;

    void SetCancelCallback(CancelCallback callback) override { m_cancelCallback = std::move(callback); }
    [[nodiscard]] bool IsCancelled() const override { return m_cancelled; }
    bool Download() override;
    bool GetRetryWait(std::uint32_t& wait) override;
    bool SaveState(CMessageObject& state) override;
    [[nodiscard]] bool LoadState(const CMessageObject& state) override;

    // Entries whose URLs and size texts add up to more than this many characters go as several requests.
    static constexpr std::size_t kMaxBatchText = 45854;

    // "http://address[:port]/[scope/]path" of a file in a provider's repository, path taken from its
    // repository URL after the host.
    static std::wstring ProviderUrl(const CAgentServiceProvider& provider, const std::wstring& scope,
                                    const IDownloadableFile& file);
    // The "AddRepositoryContent" request text of a batch; empty for an empty batch.
    static std::wstring ContentRequest(const std::wstring& scope, const Batch& batch);

    std::uint32_t Attempts() const { return m_attempts; }
    const CAgentServiceProvider* WorkingProvider() const { return m_workingProvider.get(); }

protected:
    // Null when the agent services component cannot be reached at all.
    virtual std::unique_ptr<IAgentServiceClient> MakeAgentServiceClient();

private:
    bool PollCancel();
    bool HasPendingFiles() const;
    void DownloadFromProviders(IAgentServiceClient& client);
    void DownloadFromProvider(const CAgentServiceProvider& provider);
    void DownloadDirect();
    // The file is checked in checks, while the next one downloads.
    DownloadResult DownloadOne(const std::wstring& url, IDownloadableFile& file, bool fromRepository,
                               CJobBehind& checks);
    bool RequestFilesFromRepository();
    bool SendAddRepositoryContent(const Batch& batch);
    bool SendToPeer(const std::wstring& text);

    std::wstring m_scope;
    const Files* m_files;
    std::uint32_t m_directEveryAttempt;
    std::uint32_t m_waitForRequestedFiles = 180;
    std::uint32_t m_waitSizeFactor = 512;
    std::uint32_t m_waitOnRetry = 300;
    bool m_directDone = false;
    std::uint32_t m_requestedBytes = 0;
    std::uint32_t m_attempts = 0;
    std::uint32_t m_maxRetries = 3;
    std::unique_ptr<CAgentServiceProvider> m_workingProvider;
    IDispatcherHelper* m_dispatcher;
    bool m_cancelled = false;
    CancelCallback m_cancelCallback;
};

} // namespace Repository
