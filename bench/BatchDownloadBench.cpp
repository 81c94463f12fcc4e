// 64 files of 4 MB from a repository peer on this computer: through the batch downloader (provider list,
// MD5 check, temporary file moved into place) against the same files fetched with one Quillon.dll request
// each, in the same run.

#include "BenchSupport.h"
#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "CMerrowRepository.h"
#include "CTestDownloadableFile.h"
#include "host/CCommsWrapperLoader.h"
#include "host/ICommsRequest.h"
#include "host/ICommsWrapper.h"
#include "host/InstallLocations.h"
#include "platform/Digest.h"
#include "platform/Files.h"
#include "platform/FolderTree.h"
#include "repository/CRepositoryBatchDownloader.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace bench
{
namespace
{

constexpr std::size_t kFiles = 64, kFileSize = 4u << 20;

// A package's file as the downloader sees it, fetched only from the repository peer.
struct CBenchFile : CTestDownloadableFile
{
    const bool* checkMd5 = nullptr;   // else the size alone: the downloader's own cost

    CBenchFile()
    {
        size = static_cast<DWORD>(kFileSize);
        canDownloadDirect = false;
        canRequestFromRepository = false;
    }
    bool VerifyDownload(const std::wstring& path) override
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (*checkMd5)
            return Md5OfFileMatches(path, md5);
        return ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) && data.nFileSizeLow == kFileSize;
    }
};

} // namespace

void BatchDownloadFigures()
{
    CAgentInstall install;
    Require(MakeFolderTree(install.Folder() + L"Peer"), "making the peer's folder");
    Require(install.AddComponents() && install.Add(L"Merrow.dll", L"Peer") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND,
            "laying out the agent");
    Require(install.SetSetupValue(L"InitialCompanyName", L"Batch Bench " + std::to_wstring(::GetCurrentProcessId())) &&
                    install.SetSetupValue(L"InitialProductName", L"Agent")
                ? ERROR_SUCCESS
                : ERROR_ACCESS_DENIED,
            "naming the data folder");
    std::wstring company;
    Require(GetCompanyDataFolder(company) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND, "finding the data folder");
    const std::wstring served = install.Folder() + L"Served\\Telemetry\\pkg\\", target = install.Folder() + L"Target\\";
    Require(MakeFolderTree(served), "making the repository");
    Require(MakeFolderTree(target), "making the target folder");

    CMerrowRepository peer(install.Folder() + L"Peer\\", install.Folder() + L"Served\\");
    Require(peer.port != 0 ? ERROR_SUCCESS : ERROR_SERVICE_NOT_ACTIVE, "starting the peer");
    const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(peer.port);
    Require(WriteWholeFile(install.Folder() + L"Utils\\config.json",
                           R"({"Pelter.Repository.Providers":[{"Address":"127.0.0.1","Port":)" +
                               std::to_string(peer.port) + R"(,"DeviceId":"peer"}]})"),
            "listing the peer");

    std::vector<std::unique_ptr<CBenchFile>> files;
    bool checkMd5 = false;
    Repository::CRepositoryBatchDownloader::Files list;
    std::string bytes(kFileSize, '\0');
    for (std::size_t i = 0; i < kFiles; ++i)
    {
        for (std::size_t at = 0; at < bytes.size(); ++at)
            bytes[at] = static_cast<char>((at + i * 7919) * 2654435761u >> 24);
        auto file = std::make_unique<CBenchFile>();
        const std::wstring name = L"f" + std::to_wstring(i) + L".bin";
        Require(WriteWholeFile(served + name, bytes), "writing a file");
        Require(Md5HexOfBuffer(bytes.data(), bytes.size(), file->md5), "hashing a file");
        file->url = L"http://files.test/pkg/" + name;
        file->target = target + name;
        file->checkMd5 = &checkMd5;
        list.push_back(file.get());
        files.push_back(std::move(file));
    }

    CFakeConfigUtil config;
    bool complete = true;
    const auto batchRun = [&] {
        for (const auto& file : files)
            file->done = false;
        Repository::CRepositoryBatchDownloader downloader(&list, nullptr, nullptr, &config, 0, L"Telemetry");
        complete = downloader.Download() && complete;
        for (const auto& file : files)
            complete = complete && file->done;
    };
    // One request of the communications component per file, into the same place, nothing checked.
    CCommsWrapperLoader loader(install.Folder() + L"Utils\\");
    ICommsWrapper* comms = loader.Load() ? loader.GetCommsWrapper() : nullptr;
    Require(comms != nullptr ? ERROR_SUCCESS : ERROR_DLL_NOT_FOUND, "loading Quillon.dll");
    const auto directRun = [&] {
        for (const auto& file : files)
        {
            const std::wstring url = base + L"/Telemetry/pkg/" + file->target.substr(target.size());
            ICommsRequest* request = comms->OpenRequest(L"", url.c_str(), L"GET", 0);
            complete = request != nullptr && request->DownloadToFile(file->target.c_str()) == ERROR_SUCCESS && complete;
            if (request != nullptr)
                comms->ReleaseRequest(request);
        }
    };
    // Interleaved, best of each: the machine's other load falls on both alike.
    double batch = 1e30, verified = 1e30, direct = 1e30;
    for (int run = 0; run < 4; ++run)
    {
        checkMd5 = false;
        batch = std::min(batch, BestSeconds(1, batchRun));
        checkMd5 = true;
        verified = std::min(verified, BestSeconds(1, batchRun));
        direct = std::min(direct, BestSeconds(1, directRun));
    }
    loader.FreeCommsWrapper(&comms);
    RemoveTree(company);

    const std::size_t bytesAll = kFiles * kFileSize;
    std::printf("Batch download of %zu files of %zu MB from a repository peer on this computer%s\n", kFiles,
                kFileSize >> 20, complete ? "" : " (SOME DOWNLOADS FAILED)");
    std::printf("  batch downloader, files check their size  %8.1f MB/s\n", MBps(bytesAll, batch));
    std::printf("  batch downloader, files check their MD5   %8.1f MB/s\n", MBps(bytesAll, verified));
    std::printf("  one Quillon request each                  %8.1f MB/s\n", MBps(bytesAll, direct));
    std::printf("  batch / requests  %.2f (with MD5 %.2f)\n", direct / batch, direct / verified);
    Figure("batch download with each file's MD5 / plain requests", direct / verified, "at least 0.90");
}

} // namespace bench
