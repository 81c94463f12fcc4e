#pragma once
// A telemetry plug-in package on disk: its package file and the folder it is unpacked into.

#include <string>

class ICartridge
{
public:
    virtual ~ICartridge() = default;
    // The package file is there, matches sourceMd5 and, unless it is an archive, comes from a trusted publisher.
    [[nodiscard]] virtual bool IsDownloaded(const std::wstring& sourceMd5) = 0;
    // The plug-in's main file is there and trusted, and matches: the source MD5 for a plain package, the
    // catalog (when catalogMd5 is given) otherwise.
    [[nodiscard]] virtual bool IsInstalled(const std::wstring& sourceMd5, const std::wstring& catalogMd5) = 0;
    [[nodiscard]] virtual bool Unpack() = 0;
    [[nodiscard]] virtual bool GetPluginPath(std::wstring& path) = 0;
    // The unpacked folder with everything in it, and the package file when asked; true when all of it is gone.
    virtual bool Remove(bool deletePackageFile) = 0;
};
