// The "execute" set: a "PluginExecute" of a 64 MB archive package already in place (the catalog and every
// catalogued file hashed, the main file's and the launcher's publishers checked, the launcher run) against
// hashing the same files once; and a run of a plain package against starting the same signed program directly.
// The launcher is the signed sample plug-in itself, so that the run adds as little as possible of its own.

#include "BenchSupport.h"
#include "CAgentInstall.h"
#include "CFakeConfigUtil.h"
#include "CNoDispatcher.h"

#include "host/InstallLocations.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "platform/Files.h"
#include "platform/FolderTree.h"
#include "platform/TextUtil.h"
#include "telemetry/CPluginExecuteEventProcessor.h"

#include <string>
#include <vector>

namespace bench
{
namespace
{

std::string Md5(const std::string& bytes)
{
    std::wstring hex;
    Require(Md5HexOfBuffer(bytes.data(), bytes.size(), hex), "MD5");
    return WideToUtf8(hex);
}

} // namespace

void ExecuteFigures()
{
    CAgentInstall install;
    Require(install.AddComponents() && install.Add(L"TelemetrySample.exe", L"Additional files", L"Wexler.exe") &&
                    install.SetSetupValue(L"InitialCompanyName",
                                          L"Execute Bench " + std::to_wstring(::GetCurrentProcessId()))
                ? ERROR_SUCCESS
                : ERROR_INSTALL_FAILURE,
            "laying out the agent");
    std::wstring company, data;
    Require(GetCompanyDataFolder(company) && GetAgentDataFolder(data) ? ERROR_SUCCESS : ERROR_PATH_NOT_FOUND,
            "the data folder");
    Require(MakeFolderTree(data + L"Config"), "the Config folder");
    const std::wstring downloads = data + L"Downloads\\", folder = downloads + L"archive\\";
    Require(MakeFolderTree(folder), "the unpacked folder");

    // In place as an earlier run with reuse left it: the package file, four 16 MB files, the main file, the catalog.
    std::string program;
    Require(ReadWholeFile(CAgentInstall::BuildFolder() + L"TelemetrySample.exe", program), "reading the sample plug-in");
    std::string catalog = "TelemetrySample.exe:" + Md5(program) + "\n";
    std::vector<std::wstring> hashed{folder + L"catalog.dat", folder + L"TelemetrySample.exe"};
    std::string block(16u << 20, '\0');
    for (int i = 0; i < 4; ++i)
    {
        for (std::size_t at = 0; at < block.size(); ++at)
            block[at] = static_cast<char>((at + i) * 2654435761u >> 24);
        const std::wstring name = L"data" + std::to_wstring(i) + L".bin";
        Require(WriteWholeFile(folder + name, block), "writing a package file");
        catalog += WideToUtf8(name) + ":" + Md5(block) + "\n";
        hashed.push_back(folder + name);
    }
    Require(WriteWholeFile(folder + L"TelemetrySample.exe", program), "writing the main file");
    Require(WriteWholeFile(folder + L"catalog.dat", catalog), "writing the catalog");
    Require(WriteWholeFile(downloads + L"archive.zip", "an archive already unpacked"), "writing the package");

    CFakeConfigUtil config;
    CNoDispatcher dispatcher;
    const auto run = [&](const std::string& id, const std::string& file, const std::string& catalogMd5) {
        CMessageObject event;
        Require(event.FromUtf8Json(R"({"PluginId":")" + id + R"(","PluginName":"TelemetrySample.exe",)"
                                   R"("Cartridge":{"SourcePath":"http://server.test/)" + file +
                                   R"(","SourceMd5":")" + Md5(file == "archive.zip" ? "an archive already unpacked"
                                                                                    : program) +
                                   R"(","CatalogMd5":")" + catalogMd5 + "\"}}")
                    ? ERROR_SUCCESS
                    : ERROR_INVALID_DATA,
                "the event");
        Require(CPluginExecuteEventProcessor(&config, &dispatcher, nullptr).Process(&event), "PluginExecute");
    };
    constexpr int kRuns = 3;
    const double event = BestSeconds(kRuns, [&] { run("archive", "archive.zip", Md5(catalog)); });
    std::wstring hex;
    const double hashing = BestSeconds(kRuns, [&] {
        for (const std::wstring& path : hashed)
            Require(Md5HexOfFile(path.c_str(), hex), "MD5 of a file");
    });

    // A plain package: the sample plug-in itself, in place under "Downloads".
    Require(WriteWholeFile(downloads + L"TelemetrySample.exe", program), "writing the plain package");
    const double plain = BestSeconds(kRuns, [&] { run("plain", "TelemetrySample.exe", ""); });
    const std::wstring cfg = data + L"Config\\direct.cfg";   // the sample plug-in does not read it
    const double direct = BestSeconds(kRuns, [&] {
        std::wstring line = L"\"" + install.Folder() + L"Additional files\\Wexler.exe\" -cfg \"" + cfg + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION started{};
        Require(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr,
                                 install.Folder().c_str(), &startup, &started)
                    ? ERROR_SUCCESS
                    : ::GetLastError(),
                "starting the program directly");
        const CHandle process(started.hProcess);
        const CHandle thread(started.hThread);
        ::WaitForSingleObject(process.Get(), INFINITE);
    });
    RemoveTree(company);

    std::printf("PluginExecute, a 64 MB archive package in place (best of %d)\n", kRuns);
    std::printf("  event %8.1f ms   hashing its files once %8.1f ms   event/hashing %.2f   "
                "event/(hashing + the launcher started directly) %.2f\n",
                event * 1e3, hashing * 1e3, event / hashing, event / (hashing + direct));
    std::printf("  plain package event %8.1f ms   the same program started directly %8.1f ms   ratio %.2f\n",
                plain * 1e3, direct * 1e3, plain / direct);
}

} // namespace bench
