#pragma once
// Connection settings of one service: "Services.<service>.<setting>", else "Services.Defaults.<setting>".
// Every getter reads the configuration again and gives an empty text when neither level holds a value.
// It owns nothing; the utility belongs to the configuration component.

#include "host/IConfigUtil.h"

#include <string>

class CServiceSettings
{
public:
    // Throws std::invalid_argument("configUtil is nullptr") for a null util.
    CServiceSettings(IConfigUtil* util, std::wstring serviceName);

    std::wstring GetHostname() const;
    std::wstring GetProduct() const;
    std::wstring GetProductVersion() const;
    std::wstring GetDeviceId() const;
    std::wstring GetSiteId() const;
    std::wstring GetType() const;
    std::wstring GetService() const;
    std::wstring GetContainer() const;
    std::wstring GetUserAgent() const;
    std::wstring GetPathPrefix() const;

private:
    std::wstring Read(const wchar_t* setting) const;

    IConfigUtil* m_configUtil;
    std::wstring m_serviceName;
};
