#pragma once
// The telemetry plug-in package as the repository downloads see it: one file with its URLs, the MD5 text the
// server gave for it, and where it goes.
//
// CRepositoryDownloadableResource keeps one URL for both uses. CGenericRepositoryDownloadableResource derives
// the repository URL from the full URL: "http://", the host, "/" and the SHA-256 text of everything after
// "://" (host included) as UTF-16LE, whatever the scheme; the full URL when nothing can be derived.

#include "repository/IDownloadableFile.h"

class CRepositoryDownloadableResource : public virtual IRepositoryDownloadableResource
{
public:
    void SetUrl(const std::wstring& url) override { m_url = url; }
    std::wstring GetFullUrl() const override { return m_url; }
    std::wstring GetRepositoryUrl() const override { return m_url; }

private:
    std::wstring m_url;
};

class CGenericRepositoryDownloadableResource : public virtual IRepositoryDownloadableResource
{
public:
    void SetUrl(const std::wstring& url) override;
    std::wstring GetFullUrl() const override { return m_fullUrl; }
    std::wstring GetRepositoryUrl() const override { return m_repositoryUrl; }

private:
    std::wstring m_fullUrl;
    std::wstring m_repositoryUrl;
};

class CTelemetryDownloadablePlugin : public IDownloadableFile, public CGenericRepositoryDownloadableResource
{
public:
    CTelemetryDownloadablePlugin(const std::wstring& url, const std::wstring& expectedMd5,
                                 const std::wstring& destination);

    DWORD GetSize() const override { return 0; }
    std::wstring GetLastModified() const override { return m_lastModified; }
    bool IsDownloaded() const override { return m_downloaded; }
    // The temporary file's MD5 text equals the expected one, ignoring case.
    bool VerifyDownload(const std::wstring& tempPath) override;
    // Replaces the destination; a failed move records ERROR_CANNOT_COPY. The date is not kept.
    void CommitDownload(const std::wstring& tempPath, const std::wstring& lastModified) override;
    void OnNotModified() override {}
    void SetLastError(DWORD error) override { m_lastError = error; }
    DWORD GetLastError() const override { return m_lastError; }
    bool Reserved8() const override { return false; }
    bool Reserved9() const override { return false; }
    bool CanDownloadDirect() const override { return true; }
    bool CanRequestFromRepository() const override { return true; }
    bool IsUnscoped() const override { return false; }

private:
    std::wstring m_expectedMd5;
    std::wstring m_destination;
    bool m_downloaded = false;
    DWORD m_lastError = ERROR_SUCCESS;
    std::wstring m_lastModified;
};
