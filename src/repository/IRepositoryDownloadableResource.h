#pragma once
// A resource that the repository downloads can fetch: the URL it was given, the full URL it is fetched from
// directly, and the URL whose path names it in a repository.

#include <string>

class IRepositoryDownloadableResource
{
public:
    virtual ~IRepositoryDownloadableResource() = default;        // slot 0
    virtual void SetUrl(const std::wstring& url) = 0;             // slot 1
    virtual std::wstring GetFullUrl() const = 0;                  // slot 2
    virtual std::wstring GetRepositoryUrl() const = 0;            // slot 3
};
