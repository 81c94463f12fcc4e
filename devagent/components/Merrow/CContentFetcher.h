#pragma once
// Fetches the files named by "AddRepositoryContent" requests into a repository folder, each request on a
// thread of its own: Url's path (after the host) below the folder's Scope subfolder, and beside it under the
// SHA-256 text of the Url after "http://" (as UTF-16LE), which is where agents look for a file by its source;
// kept only when the body has the Size it was told. Thread-safe.

#include "message/CMessageObject.h"
#include "platform/Win.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CContentFetcher
{
public:
    ~CContentFetcher();   // waits for every fetch

    // False when the request holds no "AddRepositoryContent" with a "Content" array.
    bool Add(const std::wstring& folder, const CMessageObject& request);
    DWORD Pending() const;
    // True when nothing is left to fetch within timeoutMs.
    bool WaitIdle(DWORD timeoutMs);
    void JoinAll();

    DWORD Fetched() const;   // files kept since the fetcher was made
    DWORD Refused() const;   // files not fetched: no answer, not 200, another size or an unsafe path

private:
    struct CFile
    {
        std::string url;
        std::wstring targets[2];   // by the Url's path, and by the digest of its source
        unsigned long long size;
    };
    void Run(std::vector<CFile> files);

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    std::vector<std::thread> m_threads;
    DWORD m_pending = 0;
    DWORD m_fetched = 0;
    DWORD m_refused = 0;
};
