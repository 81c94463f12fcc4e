#include "CContentFetcher.h"

#include "platform/Digest.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/TextUtil.h"
#include "platform/Win.h"

#include <httplib.h>
#include <shlobj.h>

#include <chrono>

namespace
{

// "http://host[:port]/path" into its parts; only plain HTTP is fetched.
bool SplitUrl(const std::string& url, std::string& host, int& port, std::string& path)
{
    const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0)
        return false;
    const std::size_t slash = url.find('/', scheme.size());
    if (slash == std::string::npos)
        return false;
    host = url.substr(scheme.size(), slash - scheme.size());
    path = url.substr(slash);
    port = 80;
    const std::size_t colon = host.rfind(':');
    if (colon != std::string::npos)
    {
        port = std::atoi(host.c_str() + colon + 1);
        host.resize(colon);
    }
    return !host.empty() && port > 0 && port < 65536;
}

// folder\scope\segments of path; empty when a segment would climb out or name something odd.
std::wstring TargetOf(const std::wstring& folder, const std::wstring& scope, const std::string& path)
{
    std::wstring target = WithTrailingBackslash(folder);
    if (!scope.empty())
    {
        if (scope == L"." || scope == L".." || scope.find_first_of(L"\\/:*?\"<>|") != std::wstring::npos)
            return std::wstring();
        target += scope + L"\\";
    }
    const std::string rest = path.substr(0, path.find_first_of("?#"));
    bool any = false;
    for (std::size_t start = 0; start < rest.size();)
    {
        const std::size_t end = std::min(rest.find('/', start), rest.size());
        const std::wstring segment = Utf8ToWide(rest.substr(start, end - start));
        start = end + 1;
        if (segment.empty())
            continue;
        if (segment == L"." || segment == L".." || segment.find_first_of(L"\\:*?\"<>|%") != std::wstring::npos)
            return std::wstring();
        target += (any ? L"\\" : L"") + segment;
        any = true;
    }
    return any ? target : std::wstring();
}

} // namespace

CContentFetcher::~CContentFetcher()
{
    JoinAll();
}

bool CContentFetcher::Add(const std::wstring& folder, const CMessageObject& request)
{
    const CMessageItem* add = nullptr;
    if (!request.FindItem(L"AddRepositoryContent", add) || add->m_type != Object || add->m_value.object == nullptr)
        return false;
    const CMessageObject* content = nullptr;
    if (!add->m_value.object->GetArray(L"Content", content))
        return false;
    std::vector<CFile> files;
    DWORD refused = 0;
    for (const CMessageItem& entry : content->Items())
    {
        if (entry.m_type != Object || entry.m_value.object == nullptr)
            continue;
        std::wstring scope;
        entry.m_value.object->GetString(L"Scope", scope);
        const CMessageObject* list = nullptr;
        if (!entry.m_value.object->GetArray(L"Files", list))
            continue;
        for (const CMessageItem& file : list->Items())
        {
            std::wstring url;
            const CMessageItem* size = nullptr;
            std::string host, path;
            int port = 0;
            if (file.m_type != Object || file.m_value.object == nullptr ||
                !file.m_value.object->GetString(L"Url", url) || !file.m_value.object->FindItem(L"Size", size) ||
                size->m_type != Integer || !SplitUrl(WideToUtf8(url), host, port, path))
            {
                ++refused;
                continue;
            }
            const std::wstring target = TargetOf(folder, scope, path);
            if (target.empty())
            {
                ++refused;
                continue;
            }
            // Agents ask for content by its source: the SHA-256 of the UTF-16LE text after "http://".
            const std::wstring afterScheme = url.substr(7);
            std::wstring digest;
            if (Sha256HexOfBuffer(afterScheme.data(), afterScheme.size() * sizeof(wchar_t), digest) != ERROR_SUCCESS)
            {
                ++refused;
                continue;
            }
            const std::wstring bySource =
                WithTrailingBackslash(folder) + (scope.empty() ? std::wstring() : scope + L"\\") + digest;
            files.push_back(CFile{WideToUtf8(url), {target, bySource}, size->m_value.u64});
        }
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refused += refused;
    ++m_pending;
    m_threads.emplace_back(&CContentFetcher::Run, this, std::move(files));
    return true;
}

void CContentFetcher::Run(std::vector<CFile> files)
{
    for (const CFile& file : files)
    {
        std::string host, path;
        int port = 0;
        bool kept = false;
        if (SplitUrl(file.url, host, port, path))
        {
            httplib::Client client(host, port);
            client.set_connection_timeout(5);
            client.set_read_timeout(30);
            const httplib::Result result = client.Get(path);
            // Size 0 is a size the asking agent does not know (a plug-in package's): any body is kept.
            kept = result && result->status == 200 && (file.size == 0 || result->body.size() == file.size);
            for (const std::wstring& target : file.targets)
            {
                if (!kept)
                    break;
                const std::wstring folder = target.substr(0, target.rfind(L'\\'));
                ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
                // Written beside the target first, so that a reader never sees half a file.
                const std::wstring partial = target + L".partial";
                kept = WriteWholeFile(partial, result->body) == ERROR_SUCCESS &&
                       ::MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
                if (!kept)
                    ::DeleteFileW(partial.c_str());
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        ++(kept ? m_fetched : m_refused);
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        --m_pending;
    }
    m_idle.notify_all();
}

DWORD CContentFetcher::Pending() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pending;
}

bool CContentFetcher::WaitIdle(DWORD timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_pending == 0; });
}

void CContentFetcher::JoinAll()
{
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_threads);
    }
    for (std::thread& thread : threads)
        thread.join();
}

DWORD CContentFetcher::Fetched() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fetched;
}

DWORD CContentFetcher::Refused() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_refused;
}
