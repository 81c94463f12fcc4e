// agent-host: loads Telemetry.dll as the agent's host does and delivers events to it.
#include "CAgentLayout.h"
#include "CHostScheduler.h"
#include "CRepositoryService.h"
#include "CNginxFront.h"
#include "CServerFixture.h"
#include "CTraceSession.h"
#include "HostOutput.h"
#include "HttpText.h"

#include "host/CConfigHelper.h"

#include "host/IPlugin.h"
#include "host/InstallLocations.h"
#include "message/CMessageObject.h"
#include "platform/COperatingSystem.h"
#include "platform/CommandLine.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "platform/Files.h"
#include "platform/ModuleFolder.h"
#include "platform/Path.h"
#include "platform/TextUtil.h"

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace
{

constexpr char kHelp[] = R"(agent-host: loads Telemetry.dll as the agent's host does and delivers events to it.

usage: agent-host [options] [EVENT.json ...]

Each EVENT.json holds one event message, e.g. {"TrackingSend": {"Filename": "C:\\t.json"}}.
The host calls GetPluginList, GetName and GetEvents, delivers every event through ProcessEvent, prints each
answer as its number and meaning, and gives the list back with FreePluginList.

options:
  --layout DIR         lay out a development agent install in DIR (Utils, Plugins, Additional files,
                       Repository; Telemetry.dll and the stand-in components copied from beside this program,
                       Merrow.dll into Repository;
                       Utils\config.json with a development identity when there is none), and use it
  --register           write the agent's setup key (HKLM\SOFTWARE\Korvo Security\SetupEx\Velnor Agent):
                       "Path" = the install folder, and the identity values of a development agent
  --install DIR        the agent install to use (default: "Path" of the agent's setup key)
  --trace LEVEL FLAGS  enable the plug-in's trace provider at LEVEL (2 error .. 5 verbose) for FLAGS
                       (1 general, 2 compression, 4 events; e.g. 7 for all) and print every message decoded
  --trace-table FILE   the decode table (default: trace-messages.tsv in the folder above this program)
  --server             start the development management server on 127.0.0.1 (it answers 200 to everything),
                       point the agent's "Communications" settings and its data services' "Hostname" at
                       it, store the files uploaded to it under "Server uploads" of the install, serve the
                       sample plug-in packages made at build time under /packages/ (TelemetrySample.exe,
                       TelemetrySample.zip; their MD5 texts in packages\packages.json of the build), and print
                       every request and every stored upload once the events are delivered
  --upload-failures N  with --server: answer the first N uploads with 503
  --https              with --server: put nginx in front of it as its HTTPS front (TLS on a loopback port,
                       certificate of the build's test authority, whose root the build's Wine prefix trusts)
                       and point the agent at https://; nginx stops with the host
  --repeat N           deliver each event N times
  --threads N          deliver from N threads at once (each thread delivers every event)
  --os                 print the operating-system record that identification fills
  --scheduler-scale X  the scheduler's time scale: offsets and intervals take X times their seconds
                       (default 1; 0.01 makes a retry after 300 s arrive after 3 s)
  --scheduler-wait S   before freeing the plug-in, wait up to S seconds for the scheduled deliveries due
                       within them (default 0)
  --keep-loaded        end without FreePluginList and without freeing the library, as a host that exits
                       while it holds the plug-in
  --peer-repository DIR  serve DIR as a second agent's repository (Merrow.dll beside this program) on
                       127.0.0.1 until Ctrl+C, and do nothing else; with --port N (default 18226, 0: any)
  --help               this text

The agent's own repository server (Merrow.dll in the install's Repository folder) runs while the host does
when "Repository.Server.Settings" enables it.

exit status: 0 when every event was delivered, 1 when the host could not do its part, 2 for a usage error.
)";

constexpr char kPackagesPath[] = "/packages/";

struct Event
{
    std::wstring file;
    CMessageObject message;
};

struct Options
{
    std::wstring layout;
    std::wstring install;
    bool registerAgent = false;
    bool traces = false;
    UCHAR traceLevel = 0;
    ULONG traceFlags = 0;
    std::wstring traceTable;
    unsigned repeat = 1;
    unsigned threads = 1;
    bool os = false;
    bool server = false;
    bool https = false;
    bool keepLoaded = false;
    double schedulerScale = 1.0;
    unsigned long schedulerWait = 0;
    unsigned long uploadFailures = 0;
    std::vector<std::wstring> events;
    std::wstring peerRepository;
    unsigned long peerPort = 18226;
};

bool ParseNumber(const std::wstring& text, unsigned long& value)
{
    wchar_t* end = nullptr;
    value = std::wcstoul(text.c_str(), &end, 0);
    return !text.empty() && *end == L'\0';
}

bool ParseScale(const std::wstring& text, double& value)
{
    wchar_t* end = nullptr;
    value = std::wcstod(text.c_str(), &end);
    return !text.empty() && *end == L'\0' && value > 0;
}

bool ParseOptions(const std::vector<std::wstring>& arguments, Options& options)
{
    for (std::size_t i = 1; i < arguments.size(); ++i)
    {
        const std::wstring& arg = arguments[i];
        auto next = [&](std::wstring& value) {
            if (i + 1 >= arguments.size())
                return false;
            value = arguments[++i];
            return true;
        };
        std::wstring value, second;
        unsigned long number = 0, flags = 0;
        if (arg == L"--help" || arg == L"-h")
        {
            std::fputs(kHelp, stdout);
            std::exit(0);
        }
        else if (arg == L"--layout")
        {
            if (!next(options.layout))
                return false;
        }
        else if (arg == L"--install")
        {
            if (!next(options.install))
                return false;
        }
        else if (arg == L"--register")
            options.registerAgent = true;
        else if (arg == L"--trace")
        {
            if (!next(value) || !next(second) || !ParseNumber(value, number) || !ParseNumber(second, flags) ||
                number > 255)
                return false;
            options.traces = true;
            options.traceLevel = static_cast<UCHAR>(number);
            options.traceFlags = flags;
        }
        else if (arg == L"--trace-table")
        {
            if (!next(options.traceTable))
                return false;
        }
        else if (arg == L"--repeat" || arg == L"--threads")
        {
            if (!next(value) || !ParseNumber(value, number) || number == 0 || number > 10000)
                return false;
            (arg == L"--repeat" ? options.repeat : options.threads) = static_cast<unsigned>(number);
        }
        else if (arg == L"--scheduler-scale")
        {
            if (!next(value) || !ParseScale(value, options.schedulerScale))
                return false;
        }
        else if (arg == L"--scheduler-wait")
        {
            if (!next(value) || !ParseNumber(value, options.schedulerWait) || options.schedulerWait > 86400)
                return false;
        }
        else if (arg == L"--upload-failures")
        {
            if (!next(value) || !ParseNumber(value, options.uploadFailures))
                return false;
        }
        else if (arg == L"--os")
            options.os = true;
        else if (arg == L"--server")
            options.server = true;
        else if (arg == L"--https")
            options.https = true;
        else if (arg == L"--keep-loaded")
            options.keepLoaded = true;
        else if (arg == L"--peer-repository")
        {
            if (!next(options.peerRepository))
                return false;
        }
        else if (arg == L"--port")
        {
            if (!next(value) || !ParseNumber(value, options.peerPort) || options.peerPort > 65535)
                return false;
        }
        else if (!arg.empty() && arg[0] == L'-')
            return false;
        else
            options.events.push_back(arg);
    }
    return true;
}

void PrintOperatingSystem()
{
    const COperatingSystem os;
    const OperatingSystemInfo& info = os.Info();
    PrintLine(L"operating system: " + info.fullName);
    PrintLine(L"  code " + std::to_wstring(info.osCode) + L", edition " + std::to_wstring(info.editionCode) +
              L", version " + std::to_wstring(info.majorVersion) + L"." + std::to_wstring(info.minorVersion) +
              L", build " + std::to_wstring(info.buildNumber) + L"." + std::to_wstring(info.updateBuildRevision) +
              L", product type " + std::to_wstring(info.productType) + L", architecture class " +
              std::to_wstring(info.architectureClass) + (info.isServer ? L", server" : L""));
}

// Where the plug-in's web API calls go: every service of the "Communications" section, through the
// configuration component the plug-in will use. base: "http://host:port" or "https://host:port".
bool PointAgentAt(const std::wstring& base, std::wstring& error)
{
    IConfigUtil* config = CConfigHelper::Instance().GetConfigUtil();
    if (config == nullptr)
    {
        error = L"the configuration component cannot be loaded";
        return false;
    }
    const std::pair<const wchar_t*, std::wstring> settings[] = {
        {L"Communications.Defaults.Scheme", base.substr(0, base.find(L':'))},
        {L"Communications.Defaults.Hostname", base.substr(base.find(L"//") + 2)},
        {L"Communications.Defaults.User-Agent", L"Velnor Agent (development)"},
        {L"Communications.Method_TrackingSend.Path", L"api/tracking/hit?trackIndex={trackIndex}"},
        {L"Services.Defaults.Hostname", base},
        {L"Communications.Defaults.FileRepositoryBase", base + L"/packages"},
    };
    for (const auto& [key, value] : settings)
    {
        if (const DWORD status = config->SetValue(key, value.c_str(), 0); status != ERROR_SUCCESS)
        {
            error = std::wstring(L"cannot set ") + key + L": " + Meaning(status);
            return false;
        }
    }
    return true;
}

// Each request as the server saw it: the request line, then the query's parameters in the order sent.
void PrintReceived(const CServerFixture& server)
{
    const std::vector<CRecordedRequest> requests = server.Requests();
    PrintLine(L"the management server received " + std::to_wstring(requests.size()) + L" request(s)");
    for (const CRecordedRequest& request : requests)
    {
        PrintLine(L"  " + Utf8ToWide(request.method) + L" " + Utf8ToWide(request.path) + L" -> " +
                  std::to_wstring(request.status));
        for (const auto& [name, value] : request.QueryPairs())
            PrintLine(L"    " + Utf8ToWide(name) + L" = " + Utf8ToWide(value));
    }
}

// Each stored upload as the server received it: its path, the metadata headers in the order sent, and what
// was stored.
void PrintUploads(const CServerFixture& server)
{
    for (const CRecordedRequest& request : server.Requests())
    {
        if (request.storedFile.empty())
            continue;
        std::string body;
        std::wstring md5;
        if (ReadWholeFile(request.storedFile, body) != ERROR_SUCCESS ||
            Md5HexOfFile(request.storedFile.c_str(), md5) != ERROR_SUCCESS)
        {
            PrintLine(L"stored upload " + Utf8ToWide(request.path) + L": cannot read " + request.storedFile);
            continue;
        }
        PrintLine(L"stored upload " + Utf8ToWide(request.path) + L": " + std::to_wstring(body.size()) +
                  L" bytes, MD5 " + md5);
        for (const auto& [name, value] : request.headers)
            if (StartsWithNoCase(name, "x-korvo-metadata-"))
                PrintLine(L"    " + Utf8ToWide(name) + L": " + Utf8ToWide(value));
    }
}

bool LoadEvents(const Options& options, std::vector<Event>& events)
{
    bool allRead = true;
    for (const std::wstring& file : options.events)
    {
        std::string text;
        Event event{file, CMessageObject()};
        if (ReadWholeFile(file, text) != ERROR_SUCCESS)
        {
            PrintLine(L"event " + file + L": cannot be read");
            allRead = false;
        }
        else if (!event.message.FromUtf8Json(text))
        {
            PrintLine(L"event " + file + L": not a JSON message object, not delivered");
            allRead = false;
        }
        else
            events.push_back(std::move(event));
    }
    return allRead;
}

void Deliver(IPlugin& plugin, const std::vector<Event>& events, unsigned repeat, unsigned thread, unsigned threads)
{
    for (unsigned round = 0; round < repeat; ++round)
    {
        for (const Event& event : events)
        {
            CMessageObject message = event.message;   // the plug-in gets its own copy, as from the agent
            const ULONGLONG started = ::GetTickCount64();
            const DWORD result = plugin.ProcessEvent(&message);
            const ULONGLONG took = ::GetTickCount64() - started;
            std::wstring where = L"event " + event.file;
            if (threads > 1)
                where += L" [thread " + std::to_wstring(thread + 1) + L"]";
            PrintLine(where + L": " + std::to_wstring(result) + L" (" + Meaning(result) + L") in " +
                      std::to_wstring(took) + L" ms");
        }
    }
}

int Run(const Options& options)
{
    if (!options.peerRepository.empty())
        return devagent::RunPeerRepository(WithTrailingBackslash(options.peerRepository), options.peerPort);
    if (options.os)
        PrintOperatingSystem();

    std::wstring install = options.install, error;
    if (!options.layout.empty())
    {
        if (!devagent::LayOutAgent(options.layout, ThisModuleFolder(), error))
        {
            PrintLine(L"agent-host: " + error);
            return 1;
        }
        install = options.layout;
        PrintLine(L"laid out a development agent in " + install);
    }
    if (options.registerAgent)
    {
        if (install.empty())
        {
            PrintLine(L"agent-host: --register needs --layout or --install");
            return 2;
        }
        if (!devagent::RegisterAgent(install, error))
        {
            PrintLine(L"agent-host: " + error);
            return 1;
        }
        PrintLine(L"registered the agent installed in " + install);
    }
    if (install.empty() && !GetInstallFolder(install))
    {
        PrintLine(L"agent-host: no agent install: give --layout or --install, or register one");
        return 1;
    }
    install = WithTrailingBackslash(install);

    std::unique_ptr<CServerFixture> server;
    CNginxFront front;
    if (options.server)
    {
        error.clear();
        server = std::make_unique<CServerFixture>();
        server->Reply("", "/", CScriptedReply{200, {}, "{}", "application/json", {}}, EPathMatch::Prefix);
        server->StoreUploads(devagent::kUploadPathPrefix, install + L"Server uploads");
        if (options.uploadFailures != 0)
            server->Reply("PUT", devagent::kUploadPathPrefix, CScriptedReply{503, {}, "busy", "text/plain", {}},
                          EPathMatch::Prefix, options.uploadFailures);
        // The sample plug-in packages made at build time, for "PluginExecute" events.
        server->ServeFiles(kPackagesPath, ThisModuleFolder() + L"..\\packages");
        std::wstring base = server->BaseUrlW();
        if (server->IsRunning() && options.https)
        {
            if (front.Start(server->Port(), L"", error))
                base = front.Url();
            else
                error = L"its HTTPS front: " + error;
        }
        if (!server->IsRunning() || !error.empty() || !PointAgentAt(base, error))
        {
            PrintLine(L"agent-host: the development management server: " +
                      (error.empty() ? std::wstring(L"cannot start") : error));
            return 1;
        }
        PrintLine(L"development management server on " + base +
                  (options.https ? L" (nginx in front of " + server->BaseUrlW() + L")" : std::wstring()));
    }

    if (options.traces)
    {
        const std::wstring table =
            options.traceTable.empty() ? ThisModuleFolder() + L"..\\trace-messages.tsv" : options.traceTable;
        if (!devagent::StartTraceSession(options.traceLevel, options.traceFlags, table, stdout))
            return 1;
    }

    std::unique_ptr<devagent::CRepositoryService> repository = devagent::StartConfiguredRepository(install, error);
    if (repository)
        PrintLine(L"repository server on http://127.0.0.1:" + std::to_wstring(repository->Port()) + L"/");
    else if (!error.empty())
        PrintLine(L"agent-host: " + error);

    std::vector<Event> events;
    const bool allRead = LoadEvents(options, events);

    const std::wstring dll = install + L"Plugins\\Telemetry.dll";
    CModule library(::LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!library)
    {
        PrintLine(L"agent-host: cannot load " + dll + L": " + Meaning(::GetLastError()));
        return 1;
    }
    const auto getList = reinterpret_cast<GetPluginListFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(library.Get(), "GetPluginList")));
    const auto freeList = reinterpret_cast<FreePluginListFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(library.Get(), "FreePluginList")));
    if (getList == nullptr || freeList == nullptr)
    {
        PrintLine(L"agent-host: " + dll + L" does not export GetPluginList and FreePluginList");
        return 1;
    }

    PluginList* list = nullptr;
    try
    {
        list = getList();
    }
    catch (const std::exception& e)
    {
        PrintLine(L"GetPluginList threw: " + Utf8ToWide(e.what()));
        return 1;
    }
    if (list == nullptr)
    {
        PrintLine(L"GetPluginList gave no list");
        return 1;
    }
    // Hears what the plug-in raises from here on; stopped before the list is given back.
    CHostScheduler scheduler(*list, options.schedulerScale);
    if (!scheduler.Start(install, error))
        PrintLine(L"agent-host: the scheduler hears no events: " + error);
    for (const PluginListEntry& entry : *list)
    {
        if (entry.plugin == nullptr)
            continue;
        std::vector<std::wstring> names;
        entry.plugin->GetEvents(names);
        std::wstring line = L"plug-in " + entry.plugin->GetName() + L" handles";
        for (const std::wstring& name : names)
            line += L" " + name;
        PrintLine(line);

        std::vector<std::thread> workers;
        for (unsigned t = 1; t < options.threads; ++t)
            workers.emplace_back(Deliver, std::ref(*entry.plugin), std::cref(events), options.repeat, t,
                                 options.threads);
        Deliver(*entry.plugin, events, options.repeat, 0, options.threads);
        for (std::thread& worker : workers)
            worker.join();
    }
    if (list->empty())
        PrintLine(L"the plug-in list is empty");
    scheduler.Finish(options.schedulerWait);
    if (options.keepLoaded)
    {
        // The process ends with the plug-in and everything it holds still in place.
        static_cast<void>(library.Release()); // deliberately never freed
        return allRead ? 0 : 1;
    }
    freeList(list);
    if (server)
    {
        PrintReceived(*server);
        PrintUploads(*server);
    }
    return allRead ? 0 : 1;
}

} // namespace

int main()
{
    std::vector<std::wstring> arguments;
    Options options;
    if (!ReadCommandLine(arguments) || !ParseOptions(arguments, options))
    {
        std::fputs("agent-host: bad arguments (agent-host --help explains them)\n", stderr);
        return 2;
    }
    return Run(options);
}
