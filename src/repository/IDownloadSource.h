#pragma once
// Where a repository file is downloaded from.

#include <string>

class IDownloadSource
{
public:
    virtual ~IDownloadSource() = default;   // slot 0
    // Slot 1: the configured file-repository base joined to relativePath by exactly one "/"; without a base
    // or a path, fullUrl. False (url untouched) when there is neither a joined URL nor a full URL.
    [[nodiscard]] virtual bool ResolveUrl(const std::wstring& fullUrl, const std::wstring& relativePath,
                                          std::wstring& url) const = 0;
};
