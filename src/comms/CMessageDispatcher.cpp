#include "comms/CMessageDispatcher.h"

#include "comms/Authorization.h"
#include "host/CInstalledComponents.h"
#include "host/CServiceSettings.h"
#include "host/Trace.h"
#include "network/ProxyAndTrust.h"
#include "platform/TextUtil.h"

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <utility>

TRACE_UNIT("61fcb48e-7949-4166-a52d-3da688594ce5");

namespace
{

constexpr wchar_t kAuthorizationSection[] = L"Services";

// An HTTP token: what a header name may be made of.
bool IsHeaderName(const std::wstring& name)
{
    constexpr std::wstring_view kSymbols = L"!#$%&'*+-.^_`|~";
    if (name.empty())
        return false;
    for (const wchar_t c : name)
    {
        const bool alphanumeric = (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
        if (!alphanumeric && kSymbols.find(c) == std::wstring_view::npos)
            return false;
    }
    return true;
}

// CR and LF would end the header and start another one of the caller's making; the other controls have no
// place in a header either.
bool HasControlCharacter(const std::wstring& text)
{
    for (const wchar_t c : text)
    {
        if (c < L' ' || c == 0x7F)
            return true;
    }
    return false;
}

// The headers that can go out as they are; the others are traced and left out.
DataServiceHeaders SafeHeaders(const DataServiceHeaders& headers)
{
    DataServiceHeaders safe;
    for (const auto& [name, value] : headers)
    {
        if (IsHeaderName(name) && !HasControlCharacter(value))
            safe.emplace_hint(safe.end(), name, value);
        else
            TRACE_WARNING(kTraceFlagEvents, 10, "header %ls left out: not a header name or a control character", name);
    }
    return safe;
}

} // namespace

// What an operation accepts: the "Type" values, compared exactly.
struct CMessageDispatcher::CServiceKind
{
    const wchar_t* operation;
    const wchar_t* type;
    const wchar_t* otherType; // null when only one is accepted
};

// A client with the proxy routes and trust it refers to: the client is given back first.
class CMessageDispatcher::COpenClient
{
public:
    COpenClient(CRequestSettings settings, CCommsDataServiceClient client)
        : m_settings(std::move(settings)), m_client(std::move(client))
    {}

    IDataServiceClient& Client() const { return *m_client; }

private:
    CRequestSettings m_settings;
    CCommsDataServiceClient m_client;
};

CMessageDispatcher::CMessageDispatcher(IConfigUtil* configUtil, IComponentAccess* components) : m_configUtil(configUtil)
{
    if (m_configUtil == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 11, "data-services dispatcher without configuration");
        throw std::invalid_argument("configUtil");
    }
    IComponentAccess& access = components != nullptr ? *components : CInstalledComponents::Instance();
    if (!access.UseComms(m_comms) || !m_comms)
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "data-services dispatcher: no communications component");
        throw std::logic_error("Cannot Initialize CommsWrapper");
    }
}

CMessageDispatcher::~CMessageDispatcher()
{
    std::lock_guard<std::mutex> lock(m_handedOutMutex);
    if (!m_handedOut.empty())
        TRACE_WARNING(kTraceFlagEvents, 13, "%u data-service clients not given back: released now",
                      static_cast<unsigned>(m_handedOut.size()));
    m_handedOut.clear();
}

std::unique_ptr<CMessageDispatcher::COpenClient>
CMessageDispatcher::Open(const std::wstring& serviceName, const CServiceKind& kind, const std::wstring* deviceId)
{
    const CServiceSettings settings(m_configUtil, serviceName);
    const std::wstring configuredDeviceId = deviceId == nullptr ? settings.GetDeviceId() : std::wstring();
    if (deviceId == nullptr && configuredDeviceId.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 14, "%ls: no DeviceId for service %ls", kind.operation, serviceName);
        return nullptr;
    }
    const std::wstring siteId = settings.GetSiteId();
    if (siteId.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "%ls: no SiteId for service %ls", kind.operation, serviceName);
        return nullptr;
    }
    const std::wstring type = settings.GetType();
    if (type != kind.type && (kind.otherType == nullptr || type != kind.otherType))
    {
        TRACE_ERROR(kTraceFlagEvents, 16, "%ls: service %ls has type %ls", kind.operation, serviceName, type);
        return nullptr;
    }
    AuthorizationRecord authorization;
    if (!ReadAuthorization(m_configUtil, authorization, kAuthorizationSection, nullptr, false))
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "%ls: no authorization for service %ls", kind.operation, serviceName);
        return nullptr;
    }

    // A product that is no number goes as 0, as the C library's conversion gives it.
    const std::wstring productText = settings.GetProduct();
    std::int32_t product = 0;
    if (!ReadLeadingInt32(productText, product) && !productText.empty())
        TRACE_WARNING(kTraceFlagEvents, 28, "%ls: Product %ls of service %ls is no number: 0", kind.operation,
                      productText, serviceName);
    const std::wstring pathPrefix = settings.GetPathPrefix();
    const std::wstring productVersion = settings.GetProductVersion();
    const std::wstring service = settings.GetService();
    const std::wstring hostname = settings.GetHostname();
    const std::wstring userAgent = settings.GetUserAgent();
    ICommsWrapper* comms = m_comms.get();
    // Declared first, so that the client goes before the proxy routes and trust it may refer to.
    CRequestSettings attached;
    CCommsDataServiceClient client(comms->CreateDataServiceClient(
                                  userAgent.c_str(), hostname.c_str(), service.c_str(), product, productVersion.c_str(),
                                  deviceId == nullptr ? configuredDeviceId.c_str() : deviceId->c_str(), &authorization,
                                  pathPrefix.c_str(), siteId.c_str()),
                              DataServiceClientRelease{comms});
    if (!client)
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "%ls: no client for service %ls at %ls", kind.operation, serviceName,
                    hostname);
        return nullptr;
    }

    attached = AttachProxyAndTrust(*client, m_configUtil, comms, hostname);
    return std::make_unique<COpenClient>(std::move(attached), std::move(client));
}

IDataServiceClient* CMessageDispatcher::HandOut(std::unique_ptr<COpenClient> open)
{
    if (!open)
        return nullptr;
    IDataServiceClient* client = &open->Client();
    std::lock_guard<std::mutex> lock(m_handedOutMutex);
    m_handedOut.emplace(client, std::move(open));
    return client;
}

bool CMessageDispatcher::UploadFile(const std::wstring& serviceName, const std::wstring& filePath,
                                    const std::wstring& name)
{
    const std::unique_ptr<COpenClient> open = Open(serviceName, {L"UploadFile", L"FileUpload", nullptr}, nullptr);
    if (!open)
        return false;
    const std::wstring container = CServiceSettings(m_configUtil, serviceName).GetContainer();
    if (!open->Client().UploadFile(container.c_str(), name.c_str(), filePath.c_str()))
    {
        TRACE_ERROR(kTraceFlagEvents, 21, "upload of %ls as %ls to %ls of service %ls failed", filePath, name,
                    container, serviceName);
        return false;
    }
    TRACE_INFO(kTraceFlagEvents, 22, "%ls uploaded as %ls to %ls of service %ls", filePath, name, container,
               serviceName);
    return true;
}

bool CMessageDispatcher::SendToQueue(const std::wstring& serviceName, const std::wstring& message,
                                     const std::wstring& label)
{
    const std::unique_ptr<COpenClient> open = Open(serviceName, {L"SendToQueue", L"Queue", nullptr}, nullptr);
    if (!open)
        return false;
    const std::wstring queue = CServiceSettings(m_configUtil, serviceName).GetContainer();
    if (!open->Client().SendToQueue(queue.c_str(), message.c_str(), label.c_str()))
    {
        TRACE_ERROR(kTraceFlagEvents, 23, "message %ls to queue %ls of service %ls failed", label, queue, serviceName);
        return false;
    }
    TRACE_INFO(kTraceFlagEvents, 24, "message %ls sent to queue %ls of service %ls", label, queue, serviceName);
    return true;
}

IDataServiceClient* CMessageDispatcher::OpenDataByIdClient(const std::wstring& serviceName,
                                                           const std::wstring& deviceId)
{
    return HandOut(Open(serviceName, {L"OpenDataByIdClient", L"GetDataById", L"SetDataById"}, &deviceId));
}

IDataServiceClient* CMessageDispatcher::OpenEventHubClient(const std::wstring& serviceName)
{
    return HandOut(Open(serviceName, {L"OpenEventHubClient", L"EventHub", nullptr}, nullptr));
}

void CMessageDispatcher::ReleaseClient(IDataServiceClient* client)
{
    if (client == nullptr)
        return;
    std::unique_ptr<COpenClient> open;
    {
        std::lock_guard<std::mutex> lock(m_handedOutMutex);
        const auto found = m_handedOut.find(client);
        if (found != m_handedOut.end())
        {
            open = std::move(found->second);
            m_handedOut.erase(found);
        }
    }
    // Giving back what this dispatcher does not hold would release it twice, or someone else's.
    if (!open)
        TRACE_ERROR(kTraceFlagEvents, 25, "client %p was not handed out by this dispatcher: left alone",
                    static_cast<void*>(client));
}

bool CMessageDispatcher::UploadToDataContainer(const std::wstring& serviceName, const std::wstring& filePath,
                                               const std::wstring& contentType, const std::wstring& operationId,
                                               const std::wstring& owner, const DataServiceHeaders& headers)
{
    const std::unique_ptr<COpenClient> open =
        Open(serviceName, {L"UploadToDataContainer", L"DataContainer", nullptr}, nullptr);
    if (!open)
        return false;
    if (!open->Client().UploadToDataContainer(operationId.c_str(), owner.c_str(), filePath.c_str(), contentType.c_str(),
                                              SafeHeaders(headers)))
    {
        TRACE_ERROR(kTraceFlagEvents, 26, "upload of %ls (%ls) for operation %ls of %ls to service %ls failed",
                    filePath, contentType, operationId, owner, serviceName);
        return false;
    }
    TRACE_INFO(kTraceFlagEvents, 27, "%ls (%ls) uploaded for operation %ls of %ls to service %ls", filePath,
               contentType, operationId, owner, serviceName);
    return true;
}
