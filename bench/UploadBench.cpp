// "FileUpload" of a large file: the event through Telemetry.dll against the same PUT made directly through
// Quillon.dll's data-service client, and the host's peak working set uploading 256 MB against 1 MB. Each
// upload runs in a child process of its own (this program with "upload-host"), so that the peak is the host's
// alone.

#include "BenchSupport.h"
#include "CAgentInstall.h"
#include "ChildProcess.h"
#include "CPluginLibrary.h"
#include "CSocket.h"
#include "host/CCommsWrapperLoader.h"
#include "host/ICommsWrapper.h"
#include "host/IDataServiceClient.h"
#include "host/IPlugin.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"
#include "platform/Digest.h"
#include "platform/Files.h"
#include "platform/TextUtil.h"
#include "platform/Win.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace bench
{
namespace
{

constexpr wchar_t kUploadService[] = L"Service_TelemetryFileUpload";

// The bench's paths and addresses are ASCII (the temporary folder, the loopback fixture).
std::wstring Ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// One upload of file from the install as the host would make it; false when it failed.
bool UploadOnce(const std::string& mode, const std::wstring& file, const std::wstring& hostname, IPlugin* plugin,
                ICommsWrapper* comms)
{
    if (mode == "event")
    {
        CMessageObject event;
        CMessageObject* payload = event.AddObject(L"FileUpload", true);
        payload->AddString(L"Filename", file);
        payload->AddString(L"OperationId", L"bench");
        payload->AddBool(L"KeepFile", true);
        return plugin->ProcessEvent(&event) == ERROR_SUCCESS;
    }
    AuthorizationRecord authorization;
    authorization.m_scheme = kAuthorizationScheme1;
    authorization.m_schemeName = L"KWS";
    authorization.m_authorizationId = L"bench-id";
    authorization.m_secret = "bench-secret";
    IDataServiceClient* client = comms->CreateDataServiceClient(L"", hostname.c_str(), kUploadService, 7, L"",
                                                               L"device-7", &authorization, L"data", L"site-7");
    if (client == nullptr)
        return false;
    const bool uploaded = client->UploadToDataContainer(L"bench", L"", file.c_str(), L"",
                                                        {{L"x-korvo-metadata-status-code", L"0"}});
    comms->ReleaseDataServiceClient(client);
    return uploaded;
}


// A file of bytes that do not repeat in short runs, written a chunk at a time.
void WriteUploadFile(const std::wstring& path, size_t bytes)
{
    CFileHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    std::string chunk(1u << 20, '\0');
    for (size_t at = 0; file && at < bytes; at += chunk.size())
    {
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<char>((at + i) * 2654435761u >> 24);
        DWORD written = 0;
        if (!::WriteFile(file.Get(), chunk.data(), static_cast<DWORD>(std::min(chunk.size(), bytes - at)), &written,
                         nullptr))
            Require(::GetLastError(), "writing the upload file");
    }
    if (!file)
        Require(::GetLastError(), "creating the upload file");
}


// A loopback HTTP server that answers every request with 200 and keeps none of the body: the fixture records
// each request whole, which a 32-bit process cannot do for 256 MB.
class CDiscardingServer
{
public:
    CDiscardingServer()
    {
        WSADATA data{};
        m_started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_listener.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof(address);
        if (!m_listener || ::bind(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(m_listener.Get(), 8) != 0 ||
            ::getsockname(m_listener.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            Require(static_cast<DWORD>(::WSAGetLastError()), "starting the discarding server");
        m_port = ntohs(address.sin_port);
        m_acceptor = std::thread([this, listener = m_listener.Get()] { Accept(listener); });
    }
    ~CDiscardingServer()
    {
        m_listener.Reset();   // ends the acceptor; connections end when their clients close them
        m_acceptor.join();
        for (std::thread& connection : m_connections)
            connection.join();
        if (m_started)
            ::WSACleanup();
    }
    CDiscardingServer(const CDiscardingServer&) = delete;
    CDiscardingServer& operator=(const CDiscardingServer&) = delete;

    std::wstring BaseUrl() const { return L"http://127.0.0.1:" + std::to_wstring(m_port); }

private:
    void Accept(SOCKET listener)
    {
        for (;;)
        {
            CSocket connection(::accept(listener, nullptr, nullptr));
            if (!connection)
                return;
            m_connections.emplace_back([owned = std::make_shared<CSocket>(std::move(connection))] { Serve(*owned); });
        }
    }
    // Requests with Content-Length (as WinHTTP sends a body of known size), one after another.
    static void Serve(const CSocket& connection)
    {
        std::vector<char> buffer(1u << 16);
        std::string head;
        for (;;)
        {
            size_t headEnd = head.find("\r\n\r\n");
            while (headEnd == std::string::npos)
            {
                const int got = ::recv(connection.Get(), buffer.data(), static_cast<int>(buffer.size()), 0);
                if (got <= 0)
                    return;
                head.append(buffer.data(), static_cast<size_t>(got));
                headEnd = head.find("\r\n\r\n");
            }
            std::string lower = head.substr(0, headEnd);
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
            const size_t field = lower.find("\r\ncontent-length:");
            size_t left = field == std::string::npos ? 0 : std::strtoul(lower.c_str() + field + 17, nullptr, 10);
            const size_t already = std::min(left, head.size() - headEnd - 4);
            head.erase(0, headEnd + 4 + already);
            left -= already;
            while (left > 0)
            {
                const int got = ::recv(connection.Get(), buffer.data(),
                                       static_cast<int>(std::min(left, buffer.size())), 0);
                if (got <= 0)
                    return;
                left -= static_cast<size_t>(got);
            }
            static constexpr char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
            if (::send(connection.Get(), kAnswer, sizeof(kAnswer) - 1, 0) != static_cast<int>(sizeof(kAnswer) - 1))
                return;
        }
    }

    bool m_started = false;
    CSocket m_listener;
    unsigned short m_port = 0;
    std::thread m_acceptor;
    std::vector<std::thread> m_connections;   // only the acceptor adds, and it has ended before they are joined
};

} // namespace

// The child: upload-host event|direct <install folder> <file> <fixture URL>. A small upload first settles
// the first connection; prints the seconds of the real one and the process's peak working set.
int UploadHost(int argc, char** argv)
{
    if (argc != 6)
        return 2;
    const std::string mode = argv[2];
    const std::wstring folder = Ascii(argv[3]), file = Ascii(argv[4]), hostname = Ascii(argv[5]);
    // The communications component stays loaded for both, as the host's other users would keep it.
    CCommsWrapperLoader loader(folder + L"Utils\\");
    ICommsWrapper* comms = loader.Load() ? loader.GetCommsWrapper() : nullptr;
    const CPluginLibrary library(folder + L"Plugins\\Telemetry.dll");
    PluginList* list = library.IsLoaded() ? library.Get() : nullptr;
    if (comms == nullptr || list == nullptr || list->empty())
        return 3;
    IPlugin* plugin = list->front().plugin;
    const std::wstring warm = file + L".warm";
    Require(WriteWholeFile(warm, "warm"), "writing the warm-up file");
    const bool warmed = UploadOnce(mode, warm, hostname, plugin, comms);
    ::DeleteFileW(warm.c_str());
    const auto start = Clock::now();
    const bool uploaded = UploadOnce(mode, file, hostname, plugin, comms);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    library.Free(list);
    loader.FreeCommsWrapper(&comms);
    if (!warmed || !uploaded)
    {
        std::printf("the %s upload failed\n", warmed ? "measured" : "warm-up");
        return 4;
    }
    PROCESS_MEMORY_COUNTERS memory{};
    if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &memory, sizeof(memory)))
        return 5;
    std::printf("%.6f %lu\n", seconds, static_cast<unsigned long>(memory.PeakWorkingSetSize));
    return 0;
}

void UploadFigures()
{
    CAgentInstall install;
    install.AddComponents();
    CDiscardingServer server;
    const std::string settings =
        "{\"Services.Defaults.Hostname\":\"" + WideToUtf8(server.BaseUrl()) +
        "\",\"Services.Defaults.PathPrefix\":\"data\",\"Services.Defaults.DeviceId\":\"device-7\","
        "\"Services.Defaults.SiteId\":\"site-7\",\"Services.Defaults.Product\":\"7\","
        "\"Services.Service_TelemetryFileUpload.Type\":\"DataContainer\","
        "\"Services.Service_TelemetryFileUpload.Service\":\"Service_TelemetryFileUpload\","
        "\"Services.Authorization.AuthorizationId\":\"bench-id\",\"Services.Authorization.Secret\":\"bench-secret\","
        "\"Register.Agent.TestMode\":\"0\"}";
    Require(WriteWholeFile(install.Folder() + L"Utils\\config.json", settings), "writing the settings");
    constexpr size_t kLarge = 256u << 20, kSmall = 1u << 20;
    const std::wstring large = install.Folder() + L"large.bin", small = install.Folder() + L"small.bin";
    WriteUploadFile(large, kLarge);
    WriteUploadFile(small, kSmall);

    wchar_t program[MAX_PATH];
    ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    struct Figures
    {
        double seconds = 1e30;
        double peakMB = 0;
    };
    // One upload in a child; best keeps the fastest run (the least disturbed) and the highest peak.
    const auto measure = [&](const wchar_t* mode, const std::wstring& file, Figures& best) {
        // The folder's final backslash is doubled, or it would escape the closing quote.
        const ChildResult child =
            RunChild(L"\"" + std::wstring(program) + L"\" upload-host " + mode + L" \"" + install.Folder() +
                         L"\\\" \"" + file + L"\" " + server.BaseUrl(),
                     600000);
        double seconds = 0;
        unsigned long peak = 0;
        if (child.error != ERROR_SUCCESS || child.exitCode != 0 ||
            std::sscanf(child.output.c_str(), "%lf %lu", &seconds, &peak) != 2)
        {
            std::fprintf(stderr, "telemetry_bench: upload-host %ls failed (error %lu, exit %lu): %s\n", mode,
                         static_cast<unsigned long>(child.error), static_cast<unsigned long>(child.exitCode),
                         child.output.c_str());
            std::exit(1);
        }
        best.seconds = std::min(best.seconds, seconds);
        best.peakMB = std::max(best.peakMB, peak / 1e6);
    };
    // Alternating, so that a busy spell of the machine falls on both.
    Figures event, direct, eventSmall, directSmall;
    for (int run = 0; run < 5; ++run)
    {
        measure(L"event", large, event);
        measure(L"direct", large, direct);
    }
    measure(L"event", small, eventSmall);
    measure(L"direct", small, directSmall);
    ::DeleteFileW(large.c_str());
    ::DeleteFileW(small.c_str());

    std::printf("FileUpload of %zu MB to a loopback server that discards it, each upload in a host process of "
                "its own\n",
                kLarge >> 20);
    std::printf("  FileUpload event through Telemetry.dll  %8.1f MB/s\n", MBps(kLarge, event.seconds));
    std::printf("  Quillon.dll data-service client alone  %8.1f MB/s   event/direct %.2f\n",
                MBps(kLarge, direct.seconds), direct.seconds / event.seconds);
    std::printf("  host peak working set, event   %6.1f MB for %zu MB, %6.1f MB for 1 MB   ratio %.2f\n",
                event.peakMB, kLarge >> 20, eventSmall.peakMB, event.peakMB / eventSmall.peakMB);
    std::printf("  host peak working set, direct  %6.1f MB for %zu MB, %6.1f MB for 1 MB   ratio %.2f\n",
                direct.peakMB, kLarge >> 20, directSmall.peakMB, direct.peakMB / directSmall.peakMB);
}

} // namespace bench
