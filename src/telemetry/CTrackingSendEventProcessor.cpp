#include "telemetry/CTrackingSendEventProcessor.h"

#include "comms/WebApiRequest.h"
#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "message/CMessageObject.h"
#include "network/CommsObjects.h"
#include "network/ProxyAndTrust.h"
#include "platform/COperatingSystem.h"
#include "telemetry/ProcessorCollaborators.h"
#include "telemetry/TrackingHit.h"
#include "telemetry/TrackingRecord.h"

#include <memory>
#include <new>
#include <stdexcept>
#include <utility>

TRACE_UNIT("ce41f26c-bd3b-4384-ba4f-2ac2c574080e");

namespace
{

constexpr wchar_t kTrackingSendEvent[] = L"TrackingSend";
constexpr wchar_t kFilename[] = L"Filename";
constexpr wchar_t kOperationId[] = L"OperationId";
constexpr wchar_t kOwner[] = L"Owner";
constexpr wchar_t kTrackingSendService[] = L"Method_TrackingSend";
constexpr wchar_t kTrackIndexParameter[] = L"trackIndex";

} // namespace

CTrackingSendEventProcessor::CTrackingSendEventProcessor(IConfigUtil* configUtil, IDispatcherHelper* dispatcherHelper,
                                                         IComponentAccess* components)
    : m_configUtil(RequireConfigUtil(configUtil, kTrackingSendEvent)),
      m_dispatcherHelper(RequireDispatcherHelper(dispatcherHelper, kTrackingSendEvent)),
      m_components(ComponentsOrInstalled(components))
{}

DWORD CTrackingSendEventProcessor::Process(CMessageObject* payload)
{
    if (payload == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "TrackingSend without event data");
        return ERROR_INVALID_DATA;
    }
    std::wstring fileName;
    std::wstring operationId;
    std::wstring owner;
    payload->GetString(kFilename, fileName);
    payload->GetString(kOperationId, operationId);
    payload->GetString(kOwner, owner);
    if (fileName.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 13, "TrackingSend without %ls", kFilename);
        return ERROR_INVALID_NAME;
    }
    TRACE_VERBOSE(kTraceFlagEvents, 27, "TrackingSend of %ls (operation %ls, owner %ls)", fileName, operationId, owner);

    CTrackingFile file;
    TrackingRecord record;
    DWORD result = ReadTrackingRecord(fileName, file, record);
    if (result != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 14, "tracking file %ls not taken: error %u", fileName, result);
        return result;
    }

    bool sent = false;
    result = SendHit(record, sent);
    if (!sent)
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "tracking hit of %ls not sent: error %u; the file stays", fileName, result);
        return result;
    }
    if (InTestMode())
    {
        TRACE_INFO(kTraceFlagEvents, 16, "test mode: tracking file %ls stays", fileName);
    }
    else if (const DWORD error = file.Remove(); error != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "cannot delete tracking file %ls: error %u", fileName, error);
    }
    return result;
}

DWORD CTrackingSendEventProcessor::SendHit(const TrackingRecord& record, bool& sent)
{
    std::shared_ptr<WebApiRequest> request;
    try
    {
        UrlParameterMap parameters{{kTrackIndexParameter, EncodeQueryValue(record.trackIndex)}};
        request = std::make_shared<WebApiRequest>(m_configUtil, std::wstring(), nullptr, kTrackingSendService,
                                                  std::move(parameters), std::wstring());
    }
    catch (const std::bad_alloc&)
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "no memory for the %ls request", kTrackingSendService);
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    CComponentUse<ICommsWrapper> comms;
    if (!m_components.UseComms(comms))
    {
        TRACE_ERROR(kTraceFlagEvents, 20, "no communications component for the tracking hit");
        return ERROR_DLL_INIT_FAILED;
    }
    if (!comms)
    {
        TRACE_ERROR(kTraceFlagEvents, 21, "the communications component gave no interface");
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    const std::wstring url = request->GetUrl();
    // Declared before the tracking request, so that the request is released before its settings.
    CRequestSettings settings;
    const CCommsTrackingRequest hit(comms->CreateTrackingRequest(url.c_str()), TrackingRequestRelease{comms.get()});
    if (!hit)
    {
        TRACE_ERROR(kTraceFlagEvents, 22, "no tracking request for %ls", url);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    settings = AttachProxyAndTrust(*hit, m_configUtil, comms.get(), url);

    const auto identity = TrackingIdentity();
    hit->SetIdentity(identity[0].c_str(), identity[1].c_str(), identity[2].c_str(), identity[3].c_str(),
                     identity[4].c_str(), identity[5].c_str(), identity[6].c_str());

    TrackingParameters parameters;
    {
        const COperatingSystem os;
        parameters = EnvironmentParameters(m_configUtil, os.Info(), ReadPortableFlag(m_components));
    }
    for (const auto& [name, value] : parameters)
        hit->AddParameter(name.c_str(), value.c_str());
    for (const auto& [name, value] : record.customPairs)
        hit->AddParameter(name.c_str(), value.c_str());

    sent = true;
    if (!hit->Send(0))
    {
        TRACE_ERROR(kTraceFlagEvents, 25, "tracking hit %ls refused or not delivered", url);
        return ERROR_REQUEST_REFUSED;
    }
    TRACE_VERBOSE(kTraceFlagEvents, 26, "tracking hit %ls sent", record.trackIndex);
    return ERROR_SUCCESS;
}

bool CTrackingSendEventProcessor::InTestMode() const
{
    int mode = 0;
    return GetTestMode(mode, m_configUtil) && (mode & 1) != 0;
}
