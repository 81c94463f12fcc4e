#pragma once
// A file as the repository downloads see it. The downloads never own one: they ask it what it needs, hand it
// a downloaded temporary file to check and move into place, and record in it why it could not be had.

#include "repository/IRepositoryDownloadableResource.h"

#include "platform/Win.h"

#include <string>

class IDownloadableFile : public virtual IRepositoryDownloadableResource
{
public:
    // Bytes the file needs on disk; also the size announced in repository requests.
    [[nodiscard]] virtual DWORD GetSize() const = 0;                                       // slot 0
    // The "Last-Modified" text of an earlier download, as the server sent it; empty if none.
    virtual std::wstring GetLastModified() const = 0;                                       // slot 1
    // Present and current: skipped by every download.
    [[nodiscard]] virtual bool IsDownloaded() const = 0;                                    // slot 2
    [[nodiscard]] virtual bool VerifyDownload(const std::wstring& tempPath) = 0;            // slot 3
    // Moves the verified temporary file into place and keeps the server's date.
    virtual void CommitDownload(const std::wstring& tempPath, const std::wstring& lastModified) = 0;   // slot 4
    virtual void OnNotModified() = 0;                                                        // slot 5
    virtual void SetLastError(DWORD error) = 0;                                              // slot 6
    [[nodiscard]] virtual DWORD GetLastError() const = 0;                                   // slot 7
    [[nodiscard]] virtual bool Reserved8() const = 0;                                       // slot 8
    [[nodiscard]] virtual bool Reserved9() const = 0;                                       // slot 9
    [[nodiscard]] virtual bool CanDownloadDirect() const = 0;                               // slot 10
    [[nodiscard]] virtual bool CanRequestFromRepository() const = 0;                        // slot 11
    // Its repository path is used without the scope folder.
    [[nodiscard]] virtual bool IsUnscoped() const = 0;                                      // slot 12
};
