#include "telemetry/CCartridge.h"

#include "host/CCompressionHelper.h"
#include "host/IDecompressor.h"
#include "host/Trace.h"
#include "platform/Digest.h"
#include "platform/FolderTree.h"
#include "platform/Path.h"
#include "platform/ScopeExit.h"
#include "platform/TextUtil.h"
#include "telemetry/CCartridgeCatalog.h"
#include "telemetry/CProcessLauncher.h"

#include <vector>

TRACE_UNIT("8837445b-482e-4a75-83dd-e848de9874c9");

namespace
{
constexpr wchar_t kZip[] = L"zip";
constexpr wchar_t kRar[] = L"rar";
constexpr wchar_t kCatalogName[] = L"catalog.dat";

bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

} // namespace

IDecompressor* GetInstalledExtractor(DWORD kind)
{
    return CCompressionHelper::Instance().GetCompression(kind);
}

void FreeInstalledExtractor(DWORD kind, IDecompressor** extractor)
{
    CCompressionHelper::Instance().FreeCompression(kind, extractor);
}

CCartridge::CCartridge(const std::wstring& packagePath, bool selfExtracting, const std::wstring& pluginName,
                       const std::wstring& unpackedFolder, const CartridgeServices& services)
    : m_packagePath(packagePath), m_selfExtracting(selfExtracting), m_pluginName(pluginName),
      m_unpackedFolder(WithTrailingBackslash(unpackedFolder)), m_services(services)
{
    const std::size_t dot = m_packagePath.rfind(L'.');
    if (dot != std::wstring::npos)
        m_extension = m_packagePath.substr(dot + 1);
}

CCartridge::Kind CCartridge::GetKind() const
{
    if (m_selfExtracting)
        return Kind::SelfExtracting;
    if (EqualsIgnoringCase(m_extension, kZip) || EqualsIgnoringCase(m_extension, kRar))
        return Kind::Archive;
    return Kind::PlainFile;
}

bool CCartridge::IsTrusted(const std::wstring& path) const
{
    if (m_services.isTrusted(path.c_str()))
        return true;
    TRACE_ERROR(kTraceFlagEvents, 10, "%ls is not from a trusted publisher", path);
    return false;
}

bool CCartridge::IsDownloaded(const std::wstring& sourceMd5)
{
    if (m_packagePath.empty() || !Exists(m_packagePath))
    {
        // Before the first download this is the ordinary case.
        TRACE_INFO(kTraceFlagEvents, 11, "package file %ls is not there", m_packagePath);
        return false;
    }
    if (!Md5OfFileMatches(m_packagePath, sourceMd5))
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "package file %ls does not match MD5 %ls", m_packagePath, sourceMd5);
        return false;
    }
    return GetKind() == Kind::Archive || IsTrusted(m_packagePath);
}

bool CCartridge::IsInstalled(const std::wstring& sourceMd5, const std::wstring& catalogMd5)
{
    std::wstring mainFile;
    if (!GetPluginPath(mainFile))
        return false;
    if (!Exists(mainFile))
    {
        TRACE_INFO(kTraceFlagEvents, 13, "plug-in %ls is not there", mainFile);
        return false;
    }
    if (!IsTrusted(mainFile))
        return false;
    if (GetKind() == Kind::PlainFile)
    {
        if (Md5OfFileMatches(mainFile, sourceMd5))
            return true;
        TRACE_ERROR(kTraceFlagEvents, 14, "plug-in %ls does not match MD5 %ls", mainFile, sourceMd5);
        return false;
    }
    if (catalogMd5.empty())
        return true;
    const std::wstring catalog = m_unpackedFolder + kCatalogName;
    if (!Md5OfFileMatches(catalog, catalogMd5))
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "catalog %ls is missing or does not match MD5 %ls", catalog, catalogMd5);
        return false;
    }
    return CCartridgeCatalog(catalog).Check(m_unpackedFolder);
}

bool CCartridge::Unpack()
{
    if (m_packagePath.empty() || m_unpackedFolder.empty() || !Exists(m_packagePath))
    {
        TRACE_ERROR(kTraceFlagEvents, 16, "cannot unpack %ls into %ls: no such file or no folder", m_packagePath,
                    m_unpackedFolder);
        return false;
    }
    switch (GetKind())
    {
    case Kind::SelfExtracting:
        return RunSelfExtracting();
    case Kind::Archive:
        return Extract();
    case Kind::PlainFile:
        break;
    }
    return true;
}

bool CCartridge::RunSelfExtracting()
{
    const DWORD made = MakeFolderTree(m_unpackedFolder);
    if (made != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "cannot make %ls for %ls: error %u", m_unpackedFolder, m_packagePath, made);
        return false;
    }
    CProcessLauncher launcher;
    launcher.SetExecutable(std::wstring(), m_packagePath);
    launcher.SetWorkingDirectory(m_unpackedFolder);
    if (!launcher.Start())
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "cannot run %ls: error %u", m_packagePath, ::GetLastError());
        return false;
    }
    if (!launcher.Wait(m_services.selfExtractLimitMs))
    {
        launcher.Terminate();
        TRACE_ERROR(kTraceFlagEvents, 19, "%ls still ran after %u ms: ended", m_packagePath,
                    m_services.selfExtractLimitMs);
        return false;
    }
    const DWORD exitCode = launcher.GetExitCode();
    if (exitCode == ERROR_SUCCESS)
        return true;
    TRACE_ERROR(kTraceFlagEvents, 20, "%ls ended with exit code %u", m_packagePath, exitCode);
    return false;
}

bool CCartridge::Extract()
{
    const DWORD kind = EqualsIgnoringCase(m_extension, kZip) ? kArchiveZip : kArchiveRar;
    IDecompressor* extractor = m_services.getExtractor(kind);
    if (extractor == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 21, "no extractor for %ls", m_packagePath);
        return false;
    }
    const auto giveBack = ScopeExit([&] { m_services.freeExtractor(kind, &extractor); });
    std::vector<std::wstring> files;
    const DWORD error = extractor->Extract(m_packagePath, m_unpackedFolder, files);
    if (error == ERROR_SUCCESS)
        return true;
    TRACE_ERROR(kTraceFlagEvents, 22, "cannot extract %ls into %ls: error %u", m_packagePath, m_unpackedFolder,
                error);
    return false;
}

bool CCartridge::GetPluginPath(std::wstring& path)
{
    if (GetKind() == Kind::PlainFile)
    {
        if (m_packagePath.empty())
        {
            TRACE_ERROR(kTraceFlagEvents, 23, "no package file to name the plug-in");
            return false;
        }
        path = m_packagePath;
        return true;
    }
    if (m_unpackedFolder.empty() || m_pluginName.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 24, "no plug-in path for %ls: folder %ls, name %ls", m_packagePath,
                    m_unpackedFolder, m_pluginName);
        return false;
    }
    path = m_unpackedFolder + m_pluginName;
    return true;
}

bool CCartridge::Remove(bool deletePackageFile)
{
    bool removed = true;
    if (!m_unpackedFolder.empty() && !RemoveTree(m_unpackedFolder))
    {
        TRACE_ERROR(kTraceFlagEvents, 25, "cannot remove all of %ls", m_unpackedFolder);
        removed = false;
    }
    if (deletePackageFile && !m_packagePath.empty() && !::DeleteFileW(m_packagePath.c_str()))
    {
        // A file, or the whole "Downloads" folder, that is not there yet is removed already.
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
        {
            TRACE_ERROR(kTraceFlagEvents, 26, "cannot delete %ls: error %u", m_packagePath, error);
            removed = false;
        }
    }
    return removed;
}
