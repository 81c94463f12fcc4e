#pragma once
// The download source of the agent's file repository: "Communications.Defaults.FileRepositoryBase", read
// once at construction (empty when it cannot be read). Immutable afterwards; safe on any thread.

#include "host/CConfigReader.h"
#include "repository/IDownloadSource.h"

#include <string>

class CDownloadSource : public IDownloadSource, public CConfigReader
{
public:
    // A null configUtil takes the module's; std::invalid_argument("ConfigUtil") when there is none.
    explicit CDownloadSource(IConfigUtil* configUtil = nullptr);

    [[nodiscard]] bool ResolveUrl(const std::wstring& fullUrl, const std::wstring& relativePath,
                                  std::wstring& url) const override;

private:
    std::wstring m_repositoryBase;
};
