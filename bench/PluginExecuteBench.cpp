// The "execute" set: "PluginExecute" events through Telemetry.dll in a development agent install, of a 64 MB
// archive package already in place (the catalog and every catalogued file hashed, the main file's and the
// launcher's publishers checked, the launcher run) against hashing the same files and starting the launcher
// directly, and of a plain package against starting the same signed program directly; each event stage by stage
// (ExecuteStageBench.cpp); and where a publisher check spends its time. The launcher is the signed sample
// plug-in itself, so that the run adds as little as possible of its own.

#include "BenchSupport.h"
#include "CAgentInstall.h"
#include "CPluginLibrary.h"

#include "host/CCommsWrapperLoader.h"
#include "host/CInstalledComponents.h"
#include "host/InstallLocations.h"
#include "message/CMessageObject.h"
#include "platform/COperatingSystem.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "platform/Files.h"
#include "platform/FolderTree.h"
#include "platform/TextUtil.h"
#include "telemetry/PublisherSignature.h"

#include <wincrypt.h>
#include <wintrust.h>

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

// A publisher check taken apart: reading the embedded signature, the system's Authenticode verification, and of
// that the image's hash alone (the rest of it is the signer's chain); for the launcher and for a small program
// signed alike, so that what grows with the file stands apart from what does not.
void PublisherFigures(const std::wstring& large, const std::wstring& small)
{
    constexpr int kRuns = 5;
    struct Parts
    {
        double megabytes = 0, check = 0, query = 0, verify = 0, hash = 0;
    };
    bool trusted = true;
    const auto measure = [&](const std::wstring& path) {
        Parts parts;
        std::string bytes;
        Require(ReadWholeFile(path, bytes), "reading a signed file");
        parts.megabytes = bytes.size() / 1e6;
        parts.check = BestSeconds(kRuns, [&] { trusted = IsTrustedFile(path.c_str()) && trusted; });
        parts.query = BestSeconds(kRuns, [&] {
            CCertStore store;
            CCryptMsg message;
            trusted = ::CryptQueryObject(CERT_QUERY_OBJECT_FILE, path.c_str(),
                                         CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED, CERT_QUERY_FORMAT_FLAG_BINARY, 0,
                                         nullptr, nullptr, nullptr, store.Put(), message.Put(), nullptr) &&
                      trusted;
        });
        parts.verify = BestSeconds(kRuns, [&] { trusted = VerifyAuthenticode(path.c_str()) == 0 && trusted; });
        parts.hash =
            BestSeconds(kRuns, [&] { trusted = VerifyAuthenticode(path.c_str(), WTD_HASH_ONLY_FLAG) == 0 && trusted; });
        return parts;
    };
    const Parts big = measure(large), little = measure(small);
    std::string bytes;
    Require(ReadWholeFile(large, bytes), "reading the launcher");
    std::wstring hex;
    const CDigestProviders digests;
    const double sha256 =
        BestSeconds(kRuns, [&] { Require(Sha256HexOfBuffer(bytes.data(), bytes.size(), hex), "SHA-256"); });

    std::printf("Publisher check (IsTrustedFile) in the system's WinTrust, best of %d%s\n", kRuns,
                trusted ? "" : " (A FILE WAS NOT TRUSTED)");
    std::printf("  %-12s %7s %9s %16s %16s %22s\n", "file", "MB", "check ms", "signature ms", "WinVerifyTrust ms",
                "its image hash alone ms");
    for (const auto& [path, parts] : {std::pair{&large, big}, std::pair{&small, little}})
        std::printf("  %-12s %7.2f %9.2f %16.2f %16.2f %22.2f\n",
                    WideToUtf8(path->substr(path->find_last_of(L'\\') + 1)).c_str(), parts.megabytes, parts.check * 1e3,
                    parts.query * 1e3, parts.verify * 1e3, parts.hash * 1e3);
    std::printf("  what grows with the file: %.1f ms for %.2f MB more, %.0f MB/s (SHA-256 of the same bytes in memory "
                "%.0f MB/s); the signer's chain (WinVerifyTrust less its hash alone) %.1f ms\n",
                (big.check - little.check) * 1e3, big.megabytes - little.megabytes,
                (big.megabytes - little.megabytes) / (big.check - little.check), MBps(bytes.size(), sha256),
                (big.verify - big.hash) * 1e3);
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
    Require(ReadWholeFile(CAgentInstall::BuildFolder() + L"TelemetrySample.exe", program),
            "reading the sample plug-in");
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
    // A plain package: the sample plug-in itself, in place under "Downloads".
    Require(WriteWholeFile(downloads + L"TelemetrySample.exe", program), "writing the plain package");

    // What an event's use of the communications component (its SplitUrl) costs when nothing else in the process
    // holds the library: it is loaded and freed again. Then it stays mapped, as a real agent's other users keep
    // it (as in the "tracking" set); the stage tables show the use as a held library makes it.
    constexpr int kRuns = 3, kEvents = 9;
    const COperatingSystem os;
    const double unheldUse = BestSeconds(kRuns, [] {
        CComponentUse<ICommsWrapper> comms;
        Require(CInstalledComponents::Instance().UseComms(comms) && comms ? ERROR_SUCCESS : ERROR_DLL_NOT_FOUND,
                "a use of the communications component");
    });
    const CModule pinComms(
        ::LoadLibraryExW((install.Folder() + L"Utils\\" + CommsLibraryName(os.Info().osCode)).c_str(), nullptr,
                         LOAD_WITH_ALTERED_SEARCH_PATH));
    const CPluginLibrary library(install.Folder() + L"Plugins\\Telemetry.dll");
    PluginList* list = library.IsLoaded() ? library.Get() : nullptr;
    if (list == nullptr || list->empty() || list->front().plugin == nullptr)
    {
        std::printf("PluginExecute: Telemetry.dll not usable\n");
        if (list != nullptr)
            library.Free(list);
        RemoveTree(company);
        return;
    }
    const auto event = [&](const std::string& id, const std::string& file, const std::string& catalogMd5) {
        CMessageObject message;
        Require(message.FromUtf8Json(R"({"PluginExecute":{"PluginId":")" + id +
                                     R"(","PluginName":"TelemetrySample.exe","Cartridge":{"SourcePath":)"
                                     R"("http://server.test/)" +
                                     file + R"(","SourceMd5":")" +
                                     Md5(file == "archive.zip" ? "an archive already unpacked" : program) +
                                     R"(","CatalogMd5":")" + catalogMd5 + "\"}}}")
                    ? ERROR_SUCCESS
                    : ERROR_INVALID_DATA,
                "the event");
        return message;
    };

    std::wstring hex;
    const auto hashing = [&] {
        for (const std::wstring& path : hashed)
            Require(Md5HexOfFile(path.c_str(), hex), "MD5 of a file");
    };
    const std::wstring launcher = install.Folder() + L"Additional files\\Wexler.exe";
    const std::wstring cfg = data + L"Config\\direct.cfg";   // the sample plug-in does not read it
    const auto direct = [&] {
        std::wstring line = L"\"" + launcher + L"\" -cfg \"" + cfg + L"\"";
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
    };

    IPlugin& plugin = *list->front().plugin;
    const WholeEvents archive = ExecuteStageFigures(
        "a 64 MB archive package in place", event("archive", "archive.zip", Md5(catalog)), plugin, kEvents, [&] {
            hashing();
            direct();
        });
    const WholeEvents plain = ExecuteStageFigures("the plain package in place",
                                                  event("plain", "TelemetrySample.exe", ""), plugin, kEvents, direct);
    PublisherFigures(launcher, CAgentInstall::BuildFolder() + L"..\\publisher-samples\\korvo.exe");
    library.Free(list);
    RemoveTree(company);

    std::printf("PluginExecute through Telemetry.dll against the same work done directly, medians of %d, each "
                "right after its event\n",
                kEvents);
    std::printf("  archive in place  event %7.1f ms   hashing its files + the launcher started directly %7.1f ms   "
                "ratio %.2f\n",
                archive.median * 1e3, archive.baselineMedian * 1e3, archive.median / archive.baselineMedian);
    std::printf("  plain package     event %7.1f ms   the program started directly %7.1f ms   ratio %.2f\n",
                plain.median * 1e3, plain.baselineMedian * 1e3, plain.median / plain.baselineMedian);
    std::printf("  a use of %ls that loads and frees it (nothing else holds it) %.1f ms\n",
                CommsLibraryName(os.Info().osCode), unheldUse * 1e3);
    Figure("PluginExecute, archive in place / (hashing + the launcher started directly)",
           archive.median / archive.baselineMedian, "explained stage by stage");
    Figure("PluginExecute, plain package / the program started directly", plain.median / plain.baselineMedian,
           "explained stage by stage");
    Figure("PluginExecute own share, archive in place", archive.ownShare, "at most 0.10");
    Figure("PluginExecute own share, plain package", plain.ownShare, "at most 0.10");
}

} // namespace bench
