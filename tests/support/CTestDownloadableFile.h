#pragma once
// A package's file as the repository downloads see it, for tests and benches: checked by its MD5 text, moved
// into its target on commit, the last error kept. Derive to note or refuse what a test needs.

#include "platform/Digest.h"
#include "repository/IDownloadableFile.h"

#include <string>

struct CTestDownloadableFile : IDownloadableFile
{
    std::wstring url, target, md5, lastModified;
    DWORD size = 0, error = 0;
    bool done = false, unscoped = false, canDownloadDirect = true, canRequestFromRepository = true;

    void SetUrl(const std::wstring& value) override { url = value; }
    std::wstring GetFullUrl() const override { return url; }
    std::wstring GetRepositoryUrl() const override { return url; }
    DWORD GetSize() const override { return size; }
    std::wstring GetLastModified() const override { return lastModified; }
    bool IsDownloaded() const override { return done; }
    bool VerifyDownload(const std::wstring& path) override { return Md5OfFileMatches(path, md5); }
    void CommitDownload(const std::wstring& path, const std::wstring&) override
    {
        done = ::MoveFileExW(path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
    }
    void OnNotModified() override {}
    void SetLastError(DWORD value) override { error = value; }
    DWORD GetLastError() const override { return error; }
    bool Reserved8() const override { return false; }
    bool Reserved9() const override { return false; }
    bool CanDownloadDirect() const override { return canDownloadDirect; }
    bool CanRequestFromRepository() const override { return canRequestFromRepository; }
    bool IsUnscoped() const override { return unscoped; }
};
