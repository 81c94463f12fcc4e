#include "repository/CDiscoveryManagerClient.h"

#include "host/InstallLocations.h"
#include "host/Trace.h"
#include "platform/TextUtil.h"
#include "repository/CDiscoveryConfig.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <stdexcept>

TRACE_UNIT("3c6c116b-cc9d-47fe-84f0-a282d045caa8");

namespace
{

std::atomic<DiscoveryHandler> g_foundHandler{nullptr};
std::atomic<DiscoveryHandler> g_lostHandler{nullptr};

void FoundTrampoline(const void* data)
{
    if (const DiscoveryHandler handler = g_foundHandler.load())
        handler(data);
}

void LostTrampoline(const void* data)
{
    if (const DiscoveryHandler handler = g_lostHandler.load())
        handler(data);
}

// Copies text into a fixed field, truncated so that the terminator always fits.
template <std::size_t N>
void CopyTruncated(wchar_t (&field)[N], const std::wstring& text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::wmemcpy(field, text.c_str(), length);
    field[length] = L'\0';
}

} // namespace

namespace Discovery
{

CDiscoveryManagerClient::CDiscoveryManagerClient(IConfigUtil* util)
{
    std::uint32_t port = CDiscoveryConfig::kDefaultPort;
    try
    {
        const CDiscoveryConfig config(util);
        m_enabled = config.Enabled();
        port = config.Port();
    }
    catch (const std::invalid_argument&)
    {
        TRACE_WARNING(kTraceFlagGeneral, 10, "no discovery settings: discovery enabled on its default port");
    }
    m_port = static_cast<std::uint16_t>(port);
    if (!m_enabled)
        return;

    std::wstring folder;
    if (!GetUtilsFolder(folder))
        TRACE_ERROR(kTraceFlagGeneral, 11, "no utilities folder for the discovery component");
    m_loader = std::make_unique<CDiscoveryManagerLoader>(folder);
    if (m_loader->Load())
        m_discovery = m_loader->GetDiscoveryInterface();
    if (m_discovery == nullptr)
        TRACE_ERROR(kTraceFlagGeneral, 12, "no discovery interface");
}

CDiscoveryManagerClient::~CDiscoveryManagerClient()
{
    if (m_discovery != nullptr)
        m_discovery->Release();
}

DWORD CDiscoveryManagerClient::StartDiscovery(const std::wstring& text, DiscoveryHandler found, DiscoveryHandler lost)
{
    if (m_discovery == nullptr)
        return ERROR_DLL_INIT_FAILED;
    g_foundHandler = found;
    g_lostHandler = lost;
    return m_discovery->Start(m_port, WideToUtf8(text).c_str(), FoundTrampoline, LostTrampoline);
}

DWORD CDiscoveryManagerClient::StopDiscovery()
{
    if (m_discovery == nullptr)
        return ERROR_DLL_INIT_FAILED;
    g_foundHandler = nullptr;
    g_lostHandler = nullptr;
    return m_discovery->Stop();
}

DWORD CDiscoveryManagerClient::Query3(UINT_PTR argument)
{
    return m_discovery == nullptr ? ERROR_DLL_INIT_FAILED : m_discovery->Query4(argument);
}

DWORD CDiscoveryManagerClient::Query4(UINT_PTR argument)
{
    return m_discovery == nullptr ? ERROR_DLL_INIT_FAILED : m_discovery->Query5(argument);
}

DWORD CDiscoveryManagerClient::Query5(UINT_PTR argument)
{
    return m_discovery == nullptr ? ERROR_DLL_INIT_FAILED : m_discovery->Query3(argument);
}

DWORD CDiscoveryManagerClient::SendRepositoryMessage(const std::wstring& address, const RepositoryMessage& message)
{
    if (m_discovery == nullptr)
        return ERROR_DLL_INIT_FAILED;
    if (address.empty() || message.body.empty())
    {
        TRACE_ERROR(kTraceFlagGeneral, 13, "repository message without an address or a body");
        return ERROR_INVALID_PARAMETER;
    }
    DiscoveryRepositoryMessage record{};
    record.version = kDiscoveryMessageVersion;
    CopyTruncated(record.service, message.service);
    CopyTruncated(record.host, address);
    record.kind = message.kind.c_str();
    record.body = message.body.c_str();
    record.parameters = message.parameters.c_str();
    const DWORD result = m_discovery->SendRepositoryMessage(&record);
    if (result != ERROR_SUCCESS)
        TRACE_ERROR(kTraceFlagGeneral, 14, "repository message to %ls not delivered: error %u", address, result);
    return result;
}

} // namespace Discovery
