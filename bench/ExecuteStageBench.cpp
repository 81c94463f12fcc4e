// Where the time of one "PluginExecute" of a package already in place goes: the processor's steps run one at a
// time, in its order, with the product's own code (its static libraries) over the same install, settings and
// components as the events sent through Telemetry.dll, each next to the whole event. Every digest, both
// publisher checks and the launcher's process (its start and its run) are rows of their own. The plug-in's own
// share is the rest: its own stages, and whatever the whole event spends outside the stages.

#include "BenchSupport.h"

#include "host/CConfigHelper.h"
#include "host/CInstalledComponents.h"
#include "host/CommsUrlComponents.h"
#include "host/IPlugin.h"
#include "host/InstallLocations.h"
#include "message/CMessageObject.h"
#include "platform/COperatingSystem.h"
#include "platform/Digest.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/TextUtil.h"
#include "platform/Uuid.h"
#include "telemetry/CPluginExecuteEventProcessor.h"
#include "telemetry/CProcessLauncher.h"
#include "telemetry/PublisherSignature.h"

#include <io.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace bench
{
namespace
{

// What a stage is, for the share that is the plug-in's own.
enum class Kind
{
    Ours,
    Digest,
    Publisher,
    Launcher,   // its process: made, run, ended
};
constexpr int kKinds = 4;

struct Row
{
    std::string name;
    Kind kind;
    std::vector<double> seconds;   // one per event
};

// The rows in the order first met; each event adds one sample to every row it ran.
class CStageTable
{
public:
    template <typename F>
    double Run(const std::string& name, Kind kind, F&& work)
    {
        const auto start = Clock::now();
        work();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        Add(name, kind, seconds);
        return seconds;
    }
    void Add(const std::string& name, Kind kind, double seconds)
    {
        auto found = m_index.find(name);
        if (found == m_index.end())
        {
            found = m_index.emplace(name, m_rows.size()).first;
            m_rows.push_back({name, kind, {}});
        }
        Row& row = m_rows[found->second];
        row.seconds.resize(m_events, 0.0);
        row.seconds.back() += seconds;
    }
    void NextEvent() { ++m_events; }
    const std::vector<Row>& Rows() const { return m_rows; }

private:
    std::vector<Row> m_rows;
    std::map<std::string, std::size_t> m_index;
    std::size_t m_events = 0;
};

std::string Megabytes(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return "?";
    char text[32];
    std::snprintf(text, sizeof(text), "%.1f MB",
                  (static_cast<unsigned long long>(data.nFileSizeHigh) << 32 | data.nFileSizeLow) / 1e6);
    return text;
}

// The names the processor refuses before anything touches the disk.
bool NamesStayInside(const PluginExecuteRequest& request)
{
    for (const wchar_t c : request.operationId)
        if (IsRefusedInFileName(c))
            return false;
    return IsPlainFileName(request.pluginId) &&
           (request.pluginName.empty() || IsPlainRelativePath(request.pluginName)) &&
           (request.launcherPath.empty() || IsPlainRelativePath(request.launcherPath));
}

// The launcher's configuration, as the processor writes it.
std::string Configuration(const PluginExecuteRequest& request, const std::wstring& pluginPath)
{
    CMessageObject config;
    config.AddString(L"Plugin", pluginPath);
    config.AddBool(L"Reuse", request.reuse);
    config.AddString(L"OperationId", request.operationId);
    config.AddString(L"Owner", request.owner);
    std::string text;
    static_cast<void>(config.SerializeUtf8(text));
    return text;
}

// One event of a package in place, as CPluginExecuteEventProcessor and CTelemetryPluginPackage make it. False
// when a step fails.
bool OneEvent(const CMessageObject& payload, IConfigUtil& config, CStageTable& table)
{
    PluginExecuteRequest request;
    bool named = false;
    table.Run("the event and its names", Kind::Ours, [&] {
        request = ReadPluginExecuteRequest(payload, &config);
        named = NamesStayInside(request);
    });
    if (!named)
        return false;

    std::wstring fileName;
    table.Run("package file name (Quillon's SplitUrl)", Kind::Ours, [&] {
        CComponentUse<ICommsWrapper> comms;
        CommsUrlComponents parts{};
        if (!CInstalledComponents::Instance().UseComms(comms) || !comms ||
            !comms->SplitUrl(request.cartridge.source.c_str(), &parts))
            return;
        const std::wstring path(parts.m_path, parts.m_pathLength);
        fileName = path.substr(path.find_last_of(L"/\\") + 1);
    });
    std::wstring data;
    table.Run("data folder and the package's places", Kind::Ours, [&] { static_cast<void>(GetAgentDataFolder(data)); });
    if (fileName.empty() || data.empty())
        return false;
    const std::wstring folder = data + L"Downloads\\" + request.pluginId + L"\\";
    const std::wstring packageFile = data + L"Downloads\\" + fileName;
    const bool archive = EqualsIgnoringCase(fileName.substr(fileName.rfind(L'.') + 1), L"zip");

    // The cartridge's IsInstalled: the main file, its publisher, then the package file's MD5 (plain) or the
    // catalog's and every catalogued file's (archive), with the digest providers held as Prepare holds them.
    auto digests = std::make_unique<CDigestProviders>();
    const std::wstring mainFile = archive ? folder + request.pluginName : packageFile;
    bool intact = false;
    table.Run("main file there", Kind::Ours, [&] { intact = IsFile(mainFile); });
    table.Run("publisher check: main file (" + Megabytes(mainFile) + ")", Kind::Publisher,
              [&] { intact = intact && IsTrustedFile(mainFile.c_str()); });
    if (!archive)
    {
        table.Run("MD5: package file (" + Megabytes(packageFile) + ")", Kind::Digest,
                  [&] { intact = intact && Md5OfFileMatches(packageFile, request.cartridge.sourceMd5); });
    }
    else
    {
        const std::wstring catalogPath = folder + L"catalog.dat";
        table.Run("MD5: catalog.dat", Kind::Digest,
                  [&] { intact = intact && Md5OfFileMatches(catalogPath, request.cartridge.catalogMd5); });
        // The catalog's check (CCartridgeCatalog::Check) reads it and hashes each file it lists, in its order;
        // the path check of each entry, two GetFullPathNameW calls, is not timed apart.
        std::vector<std::pair<std::wstring, std::wstring>> entries;
        table.Run("catalog read, its lines split", Kind::Ours, [&] {
            std::string bytes;
            intact = intact && ReadWholeFile(catalogPath, bytes) == ERROR_SUCCESS;
            for (std::size_t at = 0, end = 0; at < bytes.size(); at = end + 1)
            {
                end = std::min(bytes.find('\n', at), bytes.size());
                const std::string line = bytes.substr(at, end - at);
                const std::size_t colon = line.find(':');
                entries.emplace_back(Utf8ToWide(line.substr(0, colon)), Utf8ToWide(line.substr(colon + 1)));
            }
        });
        for (const auto& [relative, md5] : entries)
        {
            const std::wstring path = folder + relative;
            table.Run("MD5: " + WideToUtf8(relative) + " (" + Megabytes(path) + ")", Kind::Digest,
                      [&, &md5 = md5] { intact = intact && Md5OfFileMatches(path, md5); });
        }
    }
    digests.reset();
    if (!intact)
        return false;

    std::wstring launcher;
    table.Run("standard launcher's path, main file there", Kind::Ours, [&] {
        std::wstring additional;
        if (GetAdditionalFilesFolder(additional))
            launcher = additional + L"Wexler.exe";
        intact = ::_waccess(mainFile.c_str(), 0) == 0;
    });
    table.Run("launcher there", Kind::Ours, [&] { intact = intact && ::_waccess(launcher.c_str(), 0) == 0; });
    table.Run("publisher check: launcher (" + Megabytes(launcher) + ")", Kind::Publisher,
              [&] { intact = intact && IsTrustedFile(launcher.c_str()); });
    std::wstring install;
    table.Run("install folder", Kind::Ours, [&] { intact = intact && GetInstallFolder(install); });
    if (!intact)
        return false;

    COwnedFile cfg;
    table.Run("configuration file written", Kind::Ours, [&] {
        std::wstring uuid;
        std::wstring dataAgain;
        intact = GetAgentDataFolder(dataAgain) && NewUuidText(uuid, false) == RPC_S_OK &&
                 cfg.Write(dataAgain + L"Config\\" + request.pluginId + L"_" + uuid + L".cfg",
                           Configuration(request, mainFile)) == ERROR_SUCCESS;
    });
    if (!intact)
        return false;
    auto process = std::make_unique<CProcessLauncher>();
    // Start is CreateProcessW but for a command line: the system's making of the launcher's process, which the
    // direct start pays alike, is the launcher's.
    table.Run("launcher start (CreateProcessW)", Kind::Launcher, [&] {
        process->SetExecutable(std::wstring(), launcher);
        process->SetWorkingDirectory(install);
        process->SetArguments(L"-cfg \"" + cfg.Path() + L"\"");
        intact = process->Start();
    });
    if (!intact)
        return false;
    DWORD exitCode = 1;
    table.Run("the launcher's run until it exits", Kind::Launcher, [&] {
        if (process->Wait(PluginExecuteServices::kLauncherWaitMs))
            exitCode = process->GetExitCode();
    });
    table.Run("cleanup: configuration file, launcher", Kind::Ours, [&] {
        static_cast<void>(cfg.Remove());
        process.reset();
    });
    return exitCode == 0;
}

} // namespace

WholeEvents ExecuteStageFigures(const std::string& title, const CMessageObject& event, IPlugin& plugin, int events,
                                const std::function<void()>& baseline)
{
    IConfigUtil* config = CConfigHelper::Instance().GetConfigUtil();
    const CMessageObject* payload = nullptr;
    const CMessageItem* item = nullptr;
    if (config == nullptr || !event.FindItem(L"PluginExecute", item) || item->m_type != MessageItemType::Object)
    {
        std::printf("PluginExecute by stage: no configuration component or no event\n");
        return {};
    }
    payload = item->m_value.object;
    // The plug-in keeps the operating-system record while it lives; this module's copy of the code has its own.
    const COperatingSystem os;
    CStageTable table;
    std::vector<double> whole, direct;
    int failures = 0;
    // Interleaved: the machine's other load falls on all three alike. A program is signalled ended before the
    // system has taken its process down: each run starts after a pause, so as not to pay for the one before.
    constexpr DWORD kSettleMs = 100;
    for (int i = 0; i < events; ++i)
    {
        CMessageObject copy = event;
        ::Sleep(kSettleMs);
        auto start = Clock::now();
        if (plugin.ProcessEvent(&copy) != ERROR_SUCCESS)
            ++failures;
        whole.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        ::Sleep(kSettleMs);
        start = Clock::now();
        baseline();
        direct.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        ::Sleep(kSettleMs);
        table.NextEvent();
        if (!OneEvent(*payload, *config, table))
            ++failures;
    }
    const double wholeMs = Median(whole) * 1e3;
    std::printf("PluginExecute by stage, %s: %d events through Telemetry.dll, %d through the product's own code "
                "one stage at a time (%d failed)\n",
                title.c_str(), events, events, failures);
    std::printf("  %-44s %10s %9s\n", "stage", "median ms", "of whole");
    double sum = 0;
    double byKind[kKinds] = {};
    for (const Row& row : table.Rows())
    {
        const double ms = Median(row.seconds) * 1e3;
        sum += ms;
        byKind[static_cast<int>(row.kind)] += ms;
        std::printf("  %-44s %10.2f %9.3f\n", row.name.c_str(), ms, ms / wholeMs);
    }
    const double digests = byKind[static_cast<int>(Kind::Digest)];
    const double publishers = byKind[static_cast<int>(Kind::Publisher)];
    const double launcher = byKind[static_cast<int>(Kind::Launcher)];
    std::printf("  %-44s %10.2f %9.3f\n", "sum of the stage medians", sum, sum / wholeMs);
    std::printf("  %-44s %10.2f\n", "whole event through Telemetry.dll", wholeMs);
    std::printf("  of the whole event: digests %.2f, publisher checks %.2f, the launcher's process %.2f, stages of "
                "our own %.2f\n",
                digests / wholeMs, publishers / wholeMs, launcher / wholeMs,
                byKind[static_cast<int>(Kind::Ours)] / wholeMs);
    // Time the event spends outside the stages is ours. A whole event quicker than the stages' sum is the two
    // passes' noise: it takes nothing off the stages of our own.
    const double outside = std::max(0.0, wholeMs - sum);
    std::printf("  the whole event less the stages' sum %.2f ms, counted as ours (none below 0): %.2f of the whole\n",
                wholeMs - sum, outside / wholeMs);
    const double ownShare = (byKind[static_cast<int>(Kind::Ours)] + outside) / wholeMs;
    std::printf("  own share %.2f\n", ownShare);
    return {Median(whole), Median(direct), ownShare};
}

} // namespace bench
