#pragma once
// The download of one repository file: a free-space check, a conditional GET through the request dispatcher
// with the body saved to a temporary file under "Downloads\Temp" of the agent's data folder, the outcome
// classified, and the temporary file handed to the file to verify and move into place. The temporary file is
// gone when the download's outcome is known, whatever happened.

#include "comms/IRequestResponse.h"
#include "host/CLogWriter.h"
#include "host/IComponentAccess.h"
#include "host/IConfigUtil.h"
#include "host/IDispatcherHelper.h"
#include "repository/IDownloadableFile.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

class CJobBehind;

namespace Repository
{

enum class DownloadResult : std::uint32_t
{
    Downloaded = 1,      // 2xx, body saved; error 0
    NotModified = 2,     // 304 (error 304); also when the download could not start
    ClientError = 3,     // neither 2xx nor 5xx; error: the HTTP status
    ServerError = 4,     // 5xx; error: the HTTP status
    TransportError = 5,  // failed, or nothing answered; error: the transport status (ERROR_BAD_NET_RESP for 0)
};

// Below ServerError the server answered: a repository provider that answers is worth keeping.
[[nodiscard]] inline bool ServerAnswered(DownloadResult result)
{
    return result < DownloadResult::ServerError;
}

// The agent data folder's "Downloads\Temp\" folder, made when missing; empty when the data folder is not
// known.
std::wstring DownloadTempFolder();

// A new empty file with the prefix "RBD" in DownloadTempFolder() (the system's temporary folder when the data
// folder is not known); when no unique name can be had, "download.tmp" there, any file of that name deleted.
void MakeDownloadTempPath(std::wstring& path);
// The same in folder, a DownloadTempFolder() already had.
void MakeDownloadTempPath(std::wstring folder, std::wstring& path);

// The outcome of a download from the dispatcher's status and the response. With a status of 1359, 58 or 1246
// and a non-zero HTTP status, the HTTP status decides; any other non-zero status, and an HTTP status of 0, is a
// transport error.
// lastModified receives the "Last-Modified" header (exact name) of a 2xx answer and is untouched otherwise.
[[nodiscard]] DownloadResult ClassifyDownloadResult(DWORD status, const IRequestResponse& response, DWORD& error,
                                                    std::wstring& lastModified);

class CFileDownloader
{
public:
    // Free bytes available to the caller on the volume of folder (empty: the current volume); false when
    // they cannot be read.
    using FreeSpaceReader = std::function<bool(const std::wstring& folder, ULONGLONG& freeBytes)>;

    // All borrowed and kept for the downloader's life. A null configUtil takes the module's; the action
    // handler (null: server actions are not raised) takes the actions of error answers; null components
    // take the installed ones.
    CFileDownloader(IConfigUtil* configUtil, const CLogWriter& log, IDispatcherHelper* actionHandler,
                    IComponentAccess* components = nullptr);

    // fromRepository: url points at a repository provider (no proxy routes, no "Download error" log line);
    // otherwise it is the file's own URL. Every outcome but a download that could not start is recorded in
    // the file: its error number, or the commit. With checks, a downloaded file is verified and committed
    // there while the caller goes on: its outcome, and the removal of the temporary file, come when checks
    // has waited for it.
    DownloadResult DownloadFile(const std::wstring& url, IDownloadableFile& file, bool fromRepository,
                                CJobBehind* checks = nullptr) const;

    void SetFreeSpaceReader(FreeSpaceReader reader) { m_freeSpace = std::move(reader); }

private:
    IConfigUtil* m_configUtil;
    const CLogWriter& m_log;
    IDispatcherHelper* m_actionHandler;
    IComponentAccess* m_components;
    FreeSpaceReader m_freeSpace;
};

} // namespace Repository
