#include "host/CServiceSettings.h"

#include "host/InstallLocations.h"

#include <stdexcept>
#include <utility>

namespace
{
constexpr wchar_t kServicesSection[] = L"Services";
constexpr wchar_t kDefaultsEntry[] = L"Defaults";
} // namespace

CServiceSettings::CServiceSettings(IConfigUtil* util, std::wstring serviceName)
    : m_configUtil(util), m_serviceName(std::move(serviceName))
{
    if (m_configUtil == nullptr)
        throw std::invalid_argument("configUtil is nullptr");
}

std::wstring CServiceSettings::Read(const wchar_t* setting) const
{
    std::wstring value;
    if (m_configUtil == nullptr || m_serviceName.empty() || setting == nullptr || *setting == L'\0')
        return value;
    for (const std::wstring& entry : {m_serviceName, std::wstring(kDefaultsEntry)})
    {
        const std::wstring key = std::wstring(kServicesSection) + L'.' + entry + L'.' + setting;
        // ReadConfigValue gives the value back to the component on every path.
        if (ReadConfigValue(key.c_str(), value, m_configUtil) == ERROR_SUCCESS && !value.empty())
            return value;
        value.clear();
    }
    return value;
}

std::wstring CServiceSettings::GetHostname() const { return Read(L"Hostname"); }
std::wstring CServiceSettings::GetProduct() const { return Read(L"Product"); }
std::wstring CServiceSettings::GetProductVersion() const { return Read(L"ProductVersion"); }
std::wstring CServiceSettings::GetDeviceId() const { return Read(L"DeviceId"); }
std::wstring CServiceSettings::GetSiteId() const { return Read(L"SiteId"); }
std::wstring CServiceSettings::GetType() const { return Read(L"Type"); }
std::wstring CServiceSettings::GetService() const { return Read(L"Service"); }
std::wstring CServiceSettings::GetContainer() const { return Read(L"Container"); }
std::wstring CServiceSettings::GetUserAgent() const { return Read(L"User-Agent"); }
std::wstring CServiceSettings::GetPathPrefix() const { return Read(L"PathPrefix"); }
