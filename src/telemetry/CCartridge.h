#pragma once
// A telemetry plug-in package of one of three kinds, decided from the package file's extension (the text
// after its last ".", compared ignoring case) and the self-extracting flag:
//
//   self-extracting   flag set, whatever the extension   run in the unpacked folder; main file below it
//   archive           "zip" or "rar"                     extracted by the compression component, likewise
//   plain file        anything else                      the package file is the main file
//
// Integrity rests on the MD5 texts the server sends (of the package file and of the unpacked "catalog.dat")
// and on the publisher check. Every false answer is traced with the file concerned; nothing throws.

#include "platform/Win.h"
#include "telemetry/ICartridge.h"
#include "telemetry/PublisherSignature.h"

#include <functional>

class IDecompressor;

// The product's extractors: the compression component's GetCompression/FreeCompression.
[[nodiscard]] IDecompressor* GetInstalledExtractor(DWORD kind);
void FreeInstalledExtractor(DWORD kind, IDecompressor** extractor);

// What a cartridge reaches outside itself; the defaults are the product's, tests put their own in.
struct CartridgeServices
{
    static constexpr DWORD kSelfExtractLimitMs = 300000;

    std::function<bool(const wchar_t* path)> isTrusted = IsTrustedFile;
    std::function<IDecompressor*(DWORD kind)> getExtractor = GetInstalledExtractor;
    std::function<void(DWORD kind, IDecompressor** extractor)> freeExtractor = FreeInstalledExtractor;
    // A self-extracting package still running after this is ended (exit code 1067) and fails.
    DWORD selfExtractLimitMs = kSelfExtractLimitMs;
};

class CCartridge : public ICartridge
{
public:
    // unpackedFolder gets a trailing backslash when it has none.
    CCartridge(const std::wstring& packagePath, bool selfExtracting, const std::wstring& pluginName,
               const std::wstring& unpackedFolder, const CartridgeServices& services = {});

    [[nodiscard]] bool IsDownloaded(const std::wstring& sourceMd5) override;
    [[nodiscard]] bool IsInstalled(const std::wstring& sourceMd5, const std::wstring& catalogMd5) override;
    // Runs or extracts the package into the unpacked folder; a plain file needs nothing.
    [[nodiscard]] bool Unpack() override;
    // The package file for a plain file, else the unpacked folder and the plug-in name (both needed).
    [[nodiscard]] bool GetPluginPath(std::wstring& path) override;
    // Read-only files in the folder are removed too. A folder or package file that is not there counts as
    // removed.
    bool Remove(bool deletePackageFile) override;

private:
    enum class Kind
    {
        PlainFile,
        Archive,
        SelfExtracting,
    };
    [[nodiscard]] Kind GetKind() const;
    [[nodiscard]] bool IsTrusted(const std::wstring& path) const;
    [[nodiscard]] bool RunSelfExtracting();
    [[nodiscard]] bool Extract();

    std::wstring m_packagePath;
    bool m_selfExtracting;
    std::wstring m_pluginName;
    std::wstring m_unpackedFolder;
    std::wstring m_extension;
    CartridgeServices m_services;
};
