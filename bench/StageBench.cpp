// Where the time of one "TrackingSend" goes: the processor's steps run one at a time, in its order, with the
// product's own code (its static libraries) over the same install, settings and components as the events
// sent through Telemetry.dll. The time spent inside the development agent's stand-ins is measured at their
// interfaces (the configuration utility, the communications and hardware interfaces, the tracking request)
// and shown apart; the two component exports behind the loaders are timed alone, right after each event.

#include "BenchSupport.h"

#include "comms/WebApiRequest.h"
#include "host/CConfigHelper.h"
#include "host/CInstalledComponents.h"
#include "host/ComponentExports.h"
#include "host/InstallLocations.h"
#include "network/CCertificateTrustworthinessConfig.h"
#include "network/CProxyConfig.h"
#include "network/CommsObjects.h"
#include "network/ProxyAndTrust.h"
#include "platform/COperatingSystem.h"
#include "telemetry/TrackingHit.h"
#include "telemetry/TrackingRecord.h"

#include <array>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace bench
{
namespace
{

// Seconds spent inside the stand-ins so far (the stage run has one thread).
double g_standIn = 0;

class CStandInTimer
{
public:
    CStandInTimer() : m_start(Clock::now()) {}
    ~CStandInTimer() { g_standIn += std::chrono::duration<double>(Clock::now() - m_start).count(); }
    CStandInTimer(const CStandInTimer&) = delete;
    CStandInTimer& operator=(const CStandInTimer&) = delete;

private:
    Clock::time_point m_start;
};

template <typename F>
auto StandIn(F&& call)
{
    const CStandInTimer timer;
    return call();
}

class CTimedConfig final : public CConfigUtilBase
{
public:
    explicit CTimedConfig(IConfigUtil& util) : m_util(util) {}
    DWORD QueryValue(const wchar_t* key, wchar_t** value, DWORD flags) override
    {
        ++reads;
        return StandIn([&] { return m_util.QueryValue(key, value, flags); });
    }
    DWORD GetValue(const wchar_t* key, std::wstring& value, DWORD flags) override
    {
        ++reads;
        return StandIn([&] { return m_util.GetValue(key, value, flags); });
    }
    DWORD QuerySectionValue(const wchar_t* section, const wchar_t* group, const wchar_t* key, wchar_t* buffer,
                            DWORD* size, DWORD flags) override
    {
        ++reads;
        return StandIn([&] { return m_util.QuerySectionValue(section, group, key, buffer, size, flags); });
    }
    DWORD SetValue(const wchar_t* key, const wchar_t* value, DWORD flags) override
    {
        return StandIn([&] { return m_util.SetValue(key, value, flags); });
    }
    DWORD RemoveValue(const wchar_t* key) override
    {
        return StandIn([&] { return m_util.RemoveValue(key); });
    }
    void ReleaseValue(wchar_t** value) override
    {
        StandIn([&] { m_util.ReleaseValue(value); });
    }

    unsigned reads = 0;

private:
    IConfigUtil& m_util;
};

// The objects it hands out are the component's own: the tracking request takes them as they are.
class CTimedComms final : public ICommsWrapper
{
public:
    explicit CTimedComms(ICommsWrapper& comms) : m_comms(comms) {}
    ICommsProxyList* CreateProxyList() override
    {
        return StandIn([&] { return m_comms.CreateProxyList(); });
    }
    void ReleaseProxyList(ICommsProxyList* list) override
    {
        StandIn([&] { m_comms.ReleaseProxyList(list); });
    }
    ICommsProxyConfig* CreateEmptyProxyConfig() override
    {
        return StandIn([&] { return m_comms.CreateEmptyProxyConfig(); });
    }
    ICommsProxyConfig* CreateProxyConfig(DWORD mode, const wchar_t* proxyList, const wchar_t* user,
                                         const wchar_t* password, const wchar_t* reserved, const wchar_t* pacUrl,
                                         bool autoDetect, bool fallback) override
    {
        return StandIn([&] {
            return m_comms.CreateProxyConfig(mode, proxyList, user, password, reserved, pacUrl, autoDetect, fallback);
        });
    }
    void ReleaseProxyConfig(ICommsProxyConfig* config) override
    {
        StandIn([&] { m_comms.ReleaseProxyConfig(config); });
    }
    ICommsRequest* OpenRequest(const wchar_t* userAgent, const wchar_t* url, const wchar_t* verb, DWORD flags) override
    {
        return StandIn([&] { return m_comms.OpenRequest(userAgent, url, verb, flags); });
    }
    void ReleaseRequest(ICommsRequest* request) override
    {
        StandIn([&] { m_comms.ReleaseRequest(request); });
    }
    IDataServiceClient* CreateDataServiceClient(const wchar_t* userAgent, const wchar_t* hostname,
                                                const wchar_t* service, int product, const wchar_t* productVersion,
                                                const wchar_t* deviceId, const AuthorizationRecord* authorization,
                                                const wchar_t* pathPrefix, const wchar_t* siteId) override
    {
        return StandIn([&] {
            return m_comms.CreateDataServiceClient(userAgent, hostname, service, product, productVersion, deviceId,
                                                   authorization, pathPrefix, siteId);
        });
    }
    void ReleaseDataServiceClient(IDataServiceClient* client) override
    {
        StandIn([&] { m_comms.ReleaseDataServiceClient(client); });
    }
    void ReleaseBuffer(void* buffer) override
    {
        StandIn([&] { m_comms.ReleaseBuffer(buffer); });
    }
    void ReleaseResult(CommsResult* result) override
    {
        StandIn([&] { m_comms.ReleaseResult(result); });
    }
    bool SplitUrl(const wchar_t* url, CommsUrlComponents* components) override
    {
        return StandIn([&] { return m_comms.SplitUrl(url, components); });
    }
    ITrackingRequest* CreateTrackingRequest(const wchar_t* url) override
    {
        return StandIn([&] { return m_comms.CreateTrackingRequest(url); });
    }
    void ReleaseTrackingRequest(ITrackingRequest** request) override
    {
        StandIn([&] { m_comms.ReleaseTrackingRequest(request); });
    }
    void Reserved15() override {}
    ICertificateTrust* CreateCertificateTrust() override
    {
        return StandIn([&] { return m_comms.CreateCertificateTrust(); });
    }
    void ReleaseCertificateTrust(ICertificateTrust* trust) override
    {
        StandIn([&] { m_comms.ReleaseCertificateTrust(trust); });
    }

private:
    ICommsWrapper& m_comms;
};

class CTimedHardware final : public IHardware
{
public:
    explicit CTimedHardware(IHardware& hardware) : m_hardware(hardware) {}
    bool GetDescription(HardwareDescription& description) override
    {
        return StandIn([&] { return m_hardware.GetDescription(description); });
    }

private:
    IHardware& m_hardware;
};

// The installed components, each interface behind its timing decorator.
class CTimedComponents final : public IComponentAccess
{
public:
    bool UseComms(CComponentUse<ICommsWrapper>& use) override
    {
        return Use<CTimedComms>(&IComponentAccess::UseComms, use);
    }
    bool UseHardware(CComponentUse<IHardware>& use) override
    {
        return Use<CTimedHardware>(&IComponentAccess::UseHardware, use);
    }

private:
    template <typename Timed, typename T>
    static bool Use(bool (IComponentAccess::*use)(CComponentUse<T>&), CComponentUse<T>& out)
    {
        CComponentUse<T> real;
        if (!(CInstalledComponents::Instance().*use)(real))
            return false;
        if (!real)
        {
            out = std::move(real);
            return true;
        }
        auto held = std::make_shared<CComponentUse<T>>(std::move(real));
        out = CComponentUse<T>(new Timed(**held), [held](T* timed) {
            delete timed;
            held->reset();
        });
        return true;
    }
};

enum Stage
{
    kReadFile,
    kCompose,
    kLoadComms,
    kTrackingRequest,
    kProxy,
    kTrust,
    kIdentity,
    kHardware,
    kEnvironment,
    kSend,
    kGiveBack,
    kRemoveFile,
    kStageCount
};

constexpr const char* kStageNames[kStageCount] = {
    "reading the tracking file",
    "composing the request",
    "loading the communications comp.",
    "the tracking request",
    "proxy settings",
    "certificate trust",
    "identity strings",
    "hardware flag (Anvara)",
    "environment parameters and pairs",
    "the send",
    "giving everything back",
    "test mode and file removal",
};

struct StageSample
{
    std::array<double, kStageCount> total{};
    std::array<double, kStageCount> standIn{};
};

class CStageClock
{
public:
    explicit CStageClock(StageSample& sample) : m_sample(sample) {}
    template <typename F>
    void Run(Stage stage, F&& work)
    {
        const double standIn = g_standIn;
        const auto start = Clock::now();
        work();
        m_sample.total[stage] += std::chrono::duration<double>(Clock::now() - start).count();
        m_sample.standIn[stage] += g_standIn - standIn;
    }

private:
    StageSample& m_sample;
};

// One event, as CTrackingSendEventProcessor makes it. False when a step fails.
bool OneEvent(const std::wstring& file, IConfigUtil& config, IComponentAccess& components, StageSample& sample)
{
    CStageClock clock(sample);
    CTrackingFile tracking;
    TrackingRecord record;
    DWORD result = ERROR_SUCCESS;
    clock.Run(kReadFile, [&] { result = ReadTrackingRecord(file, tracking, record); });
    if (result != ERROR_SUCCESS)
        return false;

    std::wstring url;
    clock.Run(kCompose, [&] {
        UrlParameterMap parameters{{L"trackIndex", EncodeQueryValue(record.trackIndex)}};
        auto request = std::make_shared<WebApiRequest>(&config, std::wstring(), nullptr, L"Method_TrackingSend",
                                                       std::move(parameters), std::wstring());
        url = request->GetUrl();
    });

    CComponentUse<ICommsWrapper> comms;
    bool loaded = false;
    clock.Run(kLoadComms, [&] { loaded = components.UseComms(comms); });
    if (!loaded || !comms)
        return false;

    bool sent = false;
    {
        CRequestSettings settings;
        CCommsTrackingRequest hit(nullptr, TrackingRequestRelease{comms.get()});
        clock.Run(kTrackingRequest, [&] { hit.reset(comms->CreateTrackingRequest(url.c_str())); });
        if (!hit)
            return false;
        // As AttachProxyAndTrust makes them, one at a time.
        clock.Run(kProxy, [&] {
            settings.proxy = std::make_unique<CProxyConfig>(&config, comms.get(), false);
            if (settings.proxy->IsValid())
                StandIn([&] { hit->SetProxyConfig(settings.proxy->GetProxyList()); });
        });
        clock.Run(kTrust, [&] {
            settings.trust = std::make_unique<CCertificateTrustworthinessConfig>(comms.get(), &config);
            if (settings.trust->IsValid())
                StandIn([&] { hit->SetCertificateTrustConfig(settings.trust->GetTrustHandle()); });
        });
        clock.Run(kIdentity, [&] {
            const auto identity = TrackingIdentity();
            StandIn([&] {
                hit->SetIdentity(identity[0].c_str(), identity[1].c_str(), identity[2].c_str(), identity[3].c_str(),
                                 identity[4].c_str(), identity[5].c_str(), identity[6].c_str());
            });
        });
        bool portable = false;
        clock.Run(kHardware, [&] { portable = ReadPortableFlag(components); });
        clock.Run(kEnvironment, [&] {
            TrackingParameters parameters;
            {
                const COperatingSystem os;
                parameters = EnvironmentParameters(&config, os.Info(), portable);
            }
            StandIn([&] {
                for (const auto& [name, value] : parameters)
                    hit->AddParameter(name.c_str(), value.c_str());
                for (const auto& [name, value] : record.customPairs)
                    hit->AddParameter(name.c_str(), value.c_str());
            });
        });
        clock.Run(kSend, [&] { sent = StandIn([&] { return hit->Send(0); }); });
        clock.Run(kGiveBack, [&] {
            hit.reset();
            settings = CRequestSettings();
            comms.reset();
        });
    }
    clock.Run(kRemoveFile, [&] {
        int mode = 0;
        if (!(GetTestMode(mode, &config) && (mode & 1) != 0))
            static_cast<void>(tracking.Remove());
    });
    return sent;
}

// The stand-ins' exports that the loaders call, timed alone: what a use of each component costs its stand-in.
struct ExportCalls
{
    double comms = 0;
    double hardware = 0;
};

ExportCalls TimeExports(HMODULE quillon, HMODULE anvara)
{
    const auto find = [](HMODULE module, const char* name) {
        return reinterpret_cast<void (*)()>(::GetProcAddress(module, name));
    };
    const auto getComms = reinterpret_cast<GetICommsWrapperFn>(find(quillon, "GetICommsWrapper"));
    const auto freeComms = reinterpret_cast<FreeICommsWrapperFn>(find(quillon, "FreeICommsWrapper"));
    const auto getHardware = reinterpret_cast<GetIHardwareFn>(find(anvara, "GetIHardware"));
    const auto freeHardware = reinterpret_cast<FreeIHardwareFn>(find(anvara, "FreeIHardware"));
    ExportCalls calls;
    if (getComms == nullptr || freeComms == nullptr || getHardware == nullptr || freeHardware == nullptr)
        return calls;
    auto start = Clock::now();
    ICommsWrapper* comms = getComms();
    freeComms(&comms);
    calls.comms = std::chrono::duration<double>(Clock::now() - start).count();
    start = Clock::now();
    IHardware* hardware = getHardware();
    freeHardware(&hardware);
    calls.hardware = std::chrono::duration<double>(Clock::now() - start).count();
    return calls;
}

} // namespace

void StageFigures(const std::vector<std::wstring>& files, HMODULE quillon, HMODULE anvara, double wholeMedianMs)
{
    IConfigUtil* util = CConfigHelper::Instance().GetConfigUtil();
    if (util == nullptr)
    {
        std::printf("TrackingSend by stage: no configuration component\n");
        return;
    }
    CTimedConfig config(*util);
    CTimedComponents components;
    // The plug-in keeps the operating-system record while it lives; this module's copy of the code has its own.
    const COperatingSystem os;
    std::vector<StageSample> samples;
    samples.reserve(files.size());
    int failures = 0;
    for (const std::wstring& file : files)
    {
        StageSample sample;
        if (!OneEvent(file, config, components, sample))
            ++failures;
        const ExportCalls calls = TimeExports(quillon, anvara);
        sample.standIn[kLoadComms] += calls.comms;
        sample.standIn[kHardware] += calls.hardware;
        samples.push_back(sample);
    }

    std::printf("TrackingSend by stage, %zu events one at a time through the product's own code (%d failed), "
                "%.1f configuration reads an event\n",
                files.size(), failures, static_cast<double>(config.reads) / files.size());
    std::printf("  %-36s %10s %12s %10s\n", "stage", "median us", "stand-ins us", "ours us");
    double sumTotal = 0;
    double sumStandIn = 0;
    for (int stage = 0; stage < kStageCount; ++stage)
    {
        std::vector<double> total;
        std::vector<double> standIn;
        std::vector<double> ours;
        for (const StageSample& sample : samples)
        {
            total.push_back(sample.total[stage] * 1e6);
            standIn.push_back(sample.standIn[stage] * 1e6);
            ours.push_back((sample.total[stage] - sample.standIn[stage]) * 1e6);
        }
        const double medianTotal = Median(total);
        const double medianStandIn = Median(standIn);
        sumTotal += medianTotal;
        sumStandIn += medianStandIn;
        std::printf("  %-36s %10.1f %12.1f %10.1f\n", kStageNames[stage], medianTotal, medianStandIn, Median(ours));
    }
    std::printf("  %-36s %10.1f %12.1f %10.1f\n", "sum of the stage medians", sumTotal, sumStandIn,
                sumTotal - sumStandIn);
    std::printf("  %-36s %10.1f   (stages / whole %.2f)\n", "whole event through Telemetry.dll", wholeMedianMs * 1e3,
                sumTotal / (wholeMedianMs * 1e3));
    std::printf("  stand-ins: the configuration reads (Tamsin), the communications interface, tracking request and\n"
                "  send (Quillon), the hardware description (Anvara); GetICommsWrapper and GetIHardware with their\n"
                "  Free are timed alone after each event and counted to their stages\n");
}

} // namespace bench
