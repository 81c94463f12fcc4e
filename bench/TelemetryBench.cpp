// Prints throughput figures of the JSON text, the digests, the cost of a disabled trace point, of the
// plug-in's entry points, of a tracking hit and of an upload (UploadBench.cpp), each set measured in one run so
// that the ratios between them hold whatever the machine.

#include "BenchSupport.h"
#include "CAgentInstall.h"
#include "CPluginLibrary.h"
#include "CServerFixture.h"
#include "CFakeConfigUtil.h"
#include "comms/WebApiRequest.h"
#include "host/CCommsWrapperLoader.h"
#include "host/CDispatcherHelper.h"
#include "host/CInstalledComponents.h"
#include "host/ComponentUse.h"
#include "host/ICommsRequest.h"
#include "host/ICommsWrapper.h"
#include "host/IPlugin.h"
#include "host/Trace.h"
#include "message/CMessageObject.h"
#include "platform/COperatingSystem.h"
#include "platform/CUniqueHandle.h"
#include "plugin/CTelemetry.h"
#include "platform/Digest.h"
#include "platform/Files.h"
#include "platform/OsProbes.h"
#include "platform/Registry.h"
#include "platform/TextUtil.h"
#include "platform/Win.h"

#include <json.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

TRACE_UNIT("5b0f6a64-2f9e-4d0c-9a57-3c4e1d2b7a10");

namespace
{
using namespace bench;

// A document shaped like the messages the agent exchanges: many small records with strings, numbers,
// nested objects and arrays, a few escapes and non-ASCII letters.
std::string MakeDocument(size_t minimumBytes)
{
    std::string doc = "{\"Kind\":\"Bench\",\"Records\":[";
    for (unsigned i = 0; doc.size() < minimumBytes; ++i)
    {
        if (i)
            doc += ',';
        doc += "{\"TrackIndex\":" + std::to_string(i) + ",\"Name\":\"record-" + std::to_string(i) +
               "\",\"Path\":\"C:\\\\ProgramData\\\\Agent\\\\Messages\\\\m" + std::to_string(i % 97) +
               ".json\",\"Ratio\":" + std::to_string((i % 1000) / 8.0) + ",\"Ok\":" + (i % 3 ? "true" : "false") +
               ",\"Note\":\"caf\xc3\xa9 \\\"quoted\\\"\\nline\",\"Pairs\":[{\"Name\":\"a\",\"Value\":\"" +
               std::to_string(i * 7) +
               "\"},{\"Name\":\"b\",\"Value\":null}],\"Size\":" + std::to_string(1234567ull * i) + "}";
    }
    return doc + "]}";
}

void JsonFigures()
{
    const std::string doc = MakeDocument(16u << 20);
    constexpr int kRuns = 3;

    const double raw = BestSeconds(kRuns, [&] {
        json_settings settings = {};
        char error[json_error_max];
        json_value* tree = json_parse_ex(&settings, doc.data(), doc.size(), error);
        if (!tree)
            std::puts("raw parse failed");
        json_value_free(tree);
    });

    CMessageObject message;
    const double read = BestSeconds(kRuns, [&] {
        if (!message.FromUtf8Json(doc))
            std::puts("FromUtf8Json failed");
    });

    std::string written;
    const double write = BestSeconds(kRuns, [&] {
        if (!message.SerializeUtf8(written))
            std::puts("SerializeUtf8 failed");
    });

    std::printf("JSON, document of %.1f MB (written back: %.1f MB)\n", doc.size() / 1e6, written.size() / 1e6);
    std::printf("  json-parser raw parse   %8.1f MB/s\n", MBps(doc.size(), raw));
    std::printf("  FromUtf8Json            %8.1f MB/s   %.2f of raw parse\n", MBps(doc.size(), read), raw / read);
    std::printf("  SerializeUtf8           %8.1f MB/s   %.2f of raw parse\n", MBps(doc.size(), write), raw / write);
}

void DigestFigures()
{
    constexpr size_t kBytes = 64u << 20;
    std::string data(kBytes, '\0');
    for (size_t i = 0; i < kBytes; ++i)
        data[i] = static_cast<char>(i * 2654435761u >> 24);

    wchar_t folder[MAX_PATH];
    ::GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"telemetry-bench-digest.bin";
    Require(WriteWholeFile(path, data), "writing the digest file");
    constexpr int kRuns = 3;
    std::wstring hex;
    const double md5Buffer = BestSeconds(kRuns, [&] { Require(Md5HexOfBuffer(data.data(), data.size(), hex), "MD5"); });
    const double md5File = BestSeconds(kRuns, [&] { Require(Md5HexOfFile(path.c_str(), hex), "MD5 of a file"); });
    const double shaBuffer =
        BestSeconds(kRuns, [&] { Require(Sha256HexOfBuffer(data.data(), data.size(), hex), "SHA-256"); });
    const double shaFile =
        BestSeconds(kRuns, [&] { Require(Sha256HexOfFile(path.c_str(), hex), "SHA-256 of a file"); });
    ::DeleteFileW(path.c_str());

    std::printf("Digests, %zu MB (the file is in the system's cache)\n", kBytes >> 20);
    std::printf("  MD5     buffer %8.1f MB/s   file %8.1f MB/s   file/buffer %.2f\n", MBps(kBytes, md5Buffer),
                MBps(kBytes, md5File), md5Buffer / md5File);
    std::printf("  SHA-256 buffer %8.1f MB/s   file %8.1f MB/s   file/buffer %.2f\n", MBps(kBytes, shaBuffer),
                MBps(kBytes, shaFile), shaBuffer / shaFile);
    Figure("MD5 of a file / of the same bytes in memory", md5Buffer / md5File, "at least 0.90");
    Figure("SHA-256 of a file / of the same bytes in memory", shaBuffer / shaFile, "at least 0.90");
}

void TraceFigures()
{
    constexpr unsigned kPoints = 200u * 1000 * 1000;
    volatile unsigned sink = 0;
    const double empty = BestSeconds(3, [&] {
        for (unsigned i = 0; i < kPoints; ++i)
            sink = i;
    });
    const double traced = BestSeconds(3, [&] {
        for (unsigned i = 0; i < kPoints; ++i)
        {
            sink = i;
            TRACE_VERBOSE(kTraceFlagGeneral, 10, "bench point %u", i);
        }
    });
    std::printf("Tracing, provider not enabled\n");
    std::printf("  disabled trace point    %8.2f ns (loop alone %.2f ns)\n", (traced - empty) / kPoints * 1e9,
                empty / kPoints * 1e9);
}
void PluginFigures()
{
    // An event the plug-in does not handle, answered at once (tracing off).
    CFakeConfigUtil config;
    CTelemetry telemetry(&config, &CDispatcherHelper::Instance(), nullptr);
    CMessageObject unknown;
    unknown.AddObject(L"InventoryScan", true)->AddBool(L"Full", true);
    constexpr int kEvents = 200000;
    const double rejected = BestSeconds(3, [&] {
        for (int i = 0; i < kEvents; ++i)
            telemetry.ProcessEvent(&unknown);
    });

    // GetPluginList / FreePluginList through the real library in a development agent install. Each cycle
    // builds and destroys the plug-in, which loads and unloads the logging component: compare with a bare
    // load and unload of that library.
    CAgentInstall install;
    install.Add(L"Telemetry.dll", L"Plugins");
    install.Add(L"Tamsin.dll", L"Utils");
    install.Add(L"Hollin.dll", L"Utils");
    const CPluginLibrary library(install.Folder() + L"Plugins\\Telemetry.dll");
    if (!library.IsLoaded())
    {
        std::printf("Plug-in entry points: Telemetry.dll not loadable\n");
        return;
    }
    // Few cycles: under 32-bit Wine every load of a library with thread-local data keeps a TLS slot, and a
    // process has about a thousand.
    constexpr int kCycles = 100;
    const double cycles = BestSeconds(3, [&] {
        for (int i = 0; i < kCycles; ++i)
            library.Free(library.Get());
    });
    const std::wstring logging = install.Folder() + L"Utils\\Hollin.dll";
    const double bareLoads = BestSeconds(3, [&] {
        for (int i = 0; i < kCycles; ++i)
            CModule(::LoadLibraryExW(logging.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    });
    // What the plug-in's constructor does when no one else holds the operating-system record.
    const double detections = BestSeconds(3, [&] {
        for (int i = 0; i < kCycles; ++i)
        {
            OperatingSystemInfo info;
            DetectOperatingSystem(*MakeWindowsOsProbes(), info);
        }
    });
    std::printf("Plug-in entry points\n");
    std::printf("  ProcessEvent, unknown event      %8.0f ns\n", rejected / kEvents * 1e9);
    std::printf("  GetPluginList + FreePluginList   %8.1f us   %.2f of a bare load and unload of Hollin.dll\n",
                cycles / kCycles * 1e6, cycles / bareLoads);
    std::printf("    of which: bare load and unload %8.1f us, operating-system detection %8.1f us\n",
                bareLoads / kCycles * 1e6, detections / kCycles * 1e6);
}
// A configured web API URL: three settings read, placeholders filled, an unfilled optional parameter removed.
void UrlFigures()
{
    CFakeConfigUtil config;
    config.Set(L"Communications.Method_TrackingSend.Scheme", L"https");
    config.Set(L"Communications.Method_TrackingSend.Hostname", L"srv");
    config.Set(L"Communications.Method_TrackingSend.Path", L"/api/ver");
    WebApiRequest request(&config, L"", nullptr, L"Method_TrackingSend", {{L"Id", L"7"}, {L"B", L"x"}},
                          L"items/{Id}?a={A}&b={B}");
    constexpr int kUrls = 20000;
    std::size_t length = 0;
    const double seconds = BestSeconds(3, [&] {
        for (int i = 0; i < kUrls; ++i)
            length += request.GetUrl().size();
    });
    std::printf("Web API request\n");
    std::printf("  compose a configured URL    %8.2f us   (%zu characters in all)\n", seconds / kUrls * 1e6, length);
}

// One small request to the server fixture through the communications stand-in, as the plug-in makes it:
// open, add a header, send, read the result, give both back. True when the fixture answered 200.
bool OneRequest(ICommsWrapper& comms, const std::wstring& url)
{
    ICommsRequest* request = comms.OpenRequest(L"Bench", url.c_str(), L"GET", 10);
    CommsResult* result = nullptr;
    const bool answered = request != nullptr && request->AddHeader(L"x-korvo-messageId", L"bench") &&
                          request->Send(nullptr, nullptr, 0) == ERROR_SUCCESS &&
                          request->GetResult(&result) == ERROR_SUCCESS && result->m_status == 200;
    if (result != nullptr)
        comms.ReleaseResult(result);
    if (request != nullptr)
        comms.ReleaseRequest(request);
    return answered;
}

// Microseconds of each of count requests, one after the other; failed ones are counted in failures.
std::vector<double> TimeRequests(ICommsWrapper& comms, const std::wstring& url, int count, int& failures)
{
    std::vector<double> micros;
    micros.reserve(count);
    for (int i = 0; i < count; ++i)
    {
        const auto start = Clock::now();
        if (!OneRequest(comms, url))
            ++failures;
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return micros;
}

void RequestFigures()
{
    CAgentInstall install;
    install.Add(CommsLibraryName(COperatingSystem().Info().osCode), L"Utils");
    CComponentUse<ICommsWrapper> comms;
    if (!CInstalledComponents::Instance().UseComms(comms) || !comms)
    {
        std::printf("Requests: Quillon.dll not usable\n");
        return;
    }
    CServerFixture server;
    server.ReplyJson("GET", "/bench", 200, "{}");
    constexpr int kRequests = 1000;
    int failures = 0;
    std::vector<double> micros = TimeRequests(*comms, server.BaseUrlW() + L"/bench", kRequests, failures);
    std::sort(micros.begin(), micros.end());
    std::printf("Requests through Quillon.dll to the loopback fixture, %d (%d failed)\n", kRequests, failures);
    std::printf("  round trip median %8.0f us   99th percentile %8.0f us\n", micros[kRequests / 2],
                micros[kRequests * 99 / 100]);
}
// The machine values a tracking hit reads, as a real agent has them; removed afterwards.
class CIdentityValues
{
public:
    static constexpr wchar_t kLegacyKey[] = L"SOFTWARE\\Korvo Software";
    static constexpr wchar_t kSetupKey[] = L"SOFTWARE\\Korvo Software\\Setup";
    CIdentityValues(CAgentInstall& install)
    {
        const DWORD product = 4711;
        Require(static_cast<DWORD>(WriteRegistryValue(HKEY_LOCAL_MACHINE, kSetupKey, L"MainProductID", REG_DWORD,
                                                      &product, sizeof(product))),
                "writing the main product");
        Require(static_cast<DWORD>(WriteRegistryText(HKEY_LOCAL_MACHINE, kSetupKey, L"Normal", L"5.6.7")),
                "writing its version");
        Require(static_cast<DWORD>(WriteRegistryText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Korvo Software\\Setup\\UIDS",
                                                     L"MUID", L"muid-1")),
                "writing the machine identifier");
        Require(install.SetSetupValue(L"Normal", L"2.3.4") ? ERROR_SUCCESS : ERROR_WRITE_FAULT,
                "writing the agent's version");
    }
    ~CIdentityValues() { ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, kLegacyKey); }
    CIdentityValues(const CIdentityValues&) = delete;
    CIdentityValues& operator=(const CIdentityValues&) = delete;
};

double Seconds(const FILETIME& time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32 | time.dwLowDateTime) / 1e7;
}

// User and system seconds of this process so far.
std::pair<double, double> ProcessCpu()
{
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user))
        return {0, 0};
    return {Seconds(user), Seconds(kernel)};
}

// "TrackingSend" events end to end: the real Telemetry.dll in a development agent install reads each
// tracking file, sends its hit through Quillon.dll to the loopback fixture and removes the file. Events per
// second from one host thread and from four, the time of one event and what the process spent on it; then
// the same events stage by stage (StageBench.cpp).
void TrackingFigures()
{
    CAgentInstall install;
    install.AddComponents();
    const CIdentityValues identity(install);
    CServerFixture server;
    // A JSON answer, as the plain requests below have: under Wine's WinHTTP an empty text answer alone made a send
    // take more than twice as long.
    server.ReplyJson("GET", "/hit", 200, "{}");
    const std::string settings =
        "{\"Communications.Defaults.Scheme\": \"http\", \"Communications.Defaults.Hostname\": \"" +
        server.HostAndPort() +
        "\", \"Communications.Method_TrackingSend.Path\": \"hit?trackIndex={trackIndex}\", "
        "\"Register.Register.SiteId\": \"site-7\", \"Register.Register.DeviceId\": \"device-7\", "
        "\"Register.Register.Region\": \"eu\", \"Register.Agent.TestMode\": \"0\"}";
    Require(WriteWholeFile(install.Folder() + L"Utils\\config.json", settings), "writing the settings");
    // Each event loads and unloads the communications and system information components; the extra
    // reference keeps them mapped, as a real agent's other users would (and spares 32-bit Wine's TLS slots).
    const std::wstring commsLibrary = CommsLibraryName(COperatingSystem().Info().osCode);
    const CModule pinComms(::LoadLibraryExW((install.Folder() + L"Utils\\" + commsLibrary).c_str(), nullptr,
                                            LOAD_WITH_ALTERED_SEARCH_PATH));
    const CModule pinHardware(
        ::LoadLibraryExW((install.Folder() + L"Utils\\Anvara.dll").c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    const CPluginLibrary library(install.Folder() + L"Plugins\\Telemetry.dll");
    PluginList* list = library.IsLoaded() ? library.Get() : nullptr;
    if (list == nullptr || list->empty() || list->front().plugin == nullptr)
    {
        std::printf("TrackingSend: Telemetry.dll not usable\n");
        if (list != nullptr)
            library.Free(list);
        return;
    }
    IPlugin& plugin = *list->front().plugin;

    const std::wstring folder = install.Folder() + L"Tracking\\";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const auto writeFiles = [&](const std::wstring& tag, int count) {
        std::vector<std::wstring> files;
        for (int i = 0; i < count; ++i)
        {
            files.push_back(folder + tag + L"-" + std::to_wstring(i) + L".json");
            // Created new rather than replaced: under Wine a replacing create empties the file first, and ext4
            // then gives the data its blocks on close, which a disk mounted with "discard" trims synchronously
            // when the plug-in deletes the file: milliseconds of the machine's, not of the event's.
            Require(WriteWholeFile(files.back(),
                                   R"({"TrackIndex":"bench","CustomData":[{"Name":"screen","Value":"start"}]})",
                                   kFileNew),
                    "writing a tracking file");
        }
        return files;
    };
    struct Run
    {
        double seconds = 0;
        std::vector<double> millis;
        int failures = 0;
        double userSeconds = 0;
        double systemSeconds = 0;
    };
    int runs = 0;
    auto run = [&](int threads, int eventsPerThread) {
        ++runs;
        std::vector<std::vector<CMessageObject>> events(threads);
        for (int t = 0; t < threads; ++t)
        {
            const std::wstring tag = std::to_wstring(runs) + L"-" + std::to_wstring(t);
            for (const std::wstring& file : writeFiles(tag, eventsPerThread))
            {
                CMessageObject event;
                event.AddObject(L"TrackingSend", true)->AddString(L"Filename", file);
                events[t].push_back(std::move(event));
            }
        }
        std::vector<Run> perThread(threads);
        const auto cpuBefore = ProcessCpu();
        const auto start = Clock::now();
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&, t] {
                for (CMessageObject& event : events[t])
                {
                    const auto begin = Clock::now();
                    if (plugin.ProcessEvent(&event) != ERROR_SUCCESS)
                        ++perThread[t].failures;
                    perThread[t].millis.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
                }
            });
        for (std::thread& worker : workers)
            worker.join();
        Run all;
        all.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const auto cpuAfter = ProcessCpu();
        all.userSeconds = cpuAfter.first - cpuBefore.first;
        all.systemSeconds = cpuAfter.second - cpuBefore.second;
        for (const Run& one : perThread)
        {
            all.millis.insert(all.millis.end(), one.millis.begin(), one.millis.end());
            all.failures += one.failures;
        }
        std::sort(all.millis.begin(), all.millis.end());
        return all;
    };
    // Plain requests to the same fixture, through the same component, for the ratio to one request.
    CComponentUse<ICommsWrapper> comms;
    if (!CInstalledComponents::Instance().UseComms(comms) || !comms)
    {
        std::printf("TrackingSend: Quillon.dll not usable\n");
        library.Free(list);
        return;
    }
    const std::wstring requestUrl = server.BaseUrlW() + L"/hit?trackIndex=plain";

    run(1, 20); // warm-up: first connections, the OS record, the configuration file
    // Requests, events from one thread and events from four alternate in rounds, and each figure is the median
    // of its rounds' ratios: a loopback request's cost under Wine drifts within a run by more than a figure's
    // distance to its aim, and a ratio of two blocks measured seconds apart would carry that drift.
    constexpr int kRounds = 8;
    constexpr int kBlock = 50;
    constexpr int kFourBlock = 4 * kBlock; // long enough that the threads' uneven ends weigh little
    int requestFailures = 0;
    std::vector<double> requestMicros;
    std::vector<double> medianRatios;
    std::vector<double> threadRatios;
    Run one;
    Run four;
    const auto addUp = [](Run& all, const Run& block) {
        all.seconds += block.seconds;
        all.millis.insert(all.millis.end(), block.millis.begin(), block.millis.end());
        all.failures += block.failures;
        all.userSeconds += block.userSeconds;
        all.systemSeconds += block.systemSeconds;
    };
    for (int round = 0; round < kRounds; ++round)
    {
        const std::vector<double> requests = TimeRequests(*comms, requestUrl, kBlock, requestFailures);
        const Run oneBlock = run(1, kBlock);
        const Run fourBlock = run(4, kFourBlock / 4);
        medianRatios.push_back(Median(oneBlock.millis) * 1e3 / Median(requests));
        threadRatios.push_back((kFourBlock / fourBlock.seconds) / (kBlock / oneBlock.seconds));
        requestMicros.insert(requestMicros.end(), requests.begin(), requests.end());
        addUp(one, oneBlock);
        addUp(four, fourBlock);
    }
    std::sort(one.millis.begin(), one.millis.end());
    std::sort(four.millis.begin(), four.millis.end());
    const auto spread = [](std::vector<double> values) {
        std::sort(values.begin(), values.end());
        char text[64];
        std::snprintf(text, sizeof text, "rounds %.2f to %.2f", values.front(), values.back());
        return std::string(text);
    };

    constexpr int kEvents = kRounds * kBlock;
    const double oneMedian = Median(one.millis);
    std::printf("TrackingSend end to end through Telemetry.dll and Quillon.dll to the loopback fixture, %d events "
                "(%d failed), in %d rounds with %d plain requests (%d failed)\n",
                kRounds * (kBlock + kFourBlock), one.failures + four.failures, kRounds, kEvents, requestFailures);
    std::printf("  plain request              median %6.2f ms\n", Median(requestMicros) / 1e3);
    std::printf("  1 host thread   %8.0f events/s   median %6.2f ms   99th percentile %6.2f ms\n",
                kEvents / one.seconds, oneMedian, one.millis[one.millis.size() * 99 / 100]);
    std::printf("  4 host threads  %8.0f events/s   median %6.2f ms   99th percentile %6.2f ms\n",
                kRounds * kFourBlock / four.seconds, Median(four.millis), four.millis[four.millis.size() * 99 / 100]);
    std::printf("  CPU per event, 1 host thread: user %.0f us, system %.0f us (the process's own accounting, the\n"
                "  fixture's server threads included)\n",
                one.userSeconds / kEvents * 1e6, one.systemSeconds / kEvents * 1e6);
    std::printf("  4 threads / 1 thread  %.2f, %s (%u processors)\n", Median(threadRatios),
                spread(threadRatios).c_str(), std::thread::hardware_concurrency());
    std::printf("  1-thread median / plain request median  %.2f, %s\n", Median(medianRatios),
                spread(medianRatios).c_str());
    Figure("TrackingSend, 4 host threads / 1", Median(threadRatios), "at least 1.60");
    Figure("TrackingSend median / one request's", Median(medianRatios), "at most 1.30");

    StageFigures(writeFiles(L"stage", kEvents), pinComms.Get(), pinHardware.Get(), oneMedian);
    library.Free(list);
}
} // namespace

namespace bench
{
namespace
{
struct NamedFigure
{
    std::string name;
    double value;
    std::string aim;
};
std::vector<NamedFigure> g_figures;
} // namespace

void Figure(const std::string& name, double value, const std::string& aim)
{
    g_figures.push_back({name, value, aim});
}

void PrintFigures()
{
    if (g_figures.empty())
        return;
    std::printf("Figures of this run\n");
    for (const NamedFigure& figure : g_figures)
        std::printf("  %-76s %6.2f   (%s)\n", figure.name.c_str(), figure.value, figure.aim.c_str());
}
} // namespace bench

using bench::BatchDownloadFigures;
using bench::kUploadHost;
using bench::UploadFigures;
using bench::UploadHost;

// Every set, or the sets named on the command line.
int main(int argc, char** argv)
{
    const struct
    {
        const char* name;
        void (*run)();
    } sets[] = {{"json", JsonFigures},
                {"digests", DigestFigures},
                {"trace", TraceFigures},
                {"plugin", PluginFigures},
                {"url", UrlFigures},
                {"requests", RequestFigures},
                {"tracking", TrackingFigures},
                {"upload", UploadFigures},
                {"batch", BatchDownloadFigures},
                {"execute", bench::ExecuteFigures}};
    if (argc > 1 && std::string(argv[1]) == kUploadHost)
        return UploadHost(argc, argv);
    for (const auto& set : sets)
    {
        bool wanted = argc < 2;
        for (int i = 1; i < argc; ++i)
            wanted = wanted || std::string(argv[i]) == set.name;
        if (wanted)
        {
            set.run();
            std::fflush(stdout); // what was measured stays, should a later set end the process
        }
    }
    bench::PrintFigures();
    return 0;
}
