#pragma once
// A data-service client: uploads, queue messages and data-container uploads, each one signed HTTP request
// below Hostname / PathPrefix / Service (README).

#include "CHttpExchange.h"
#include "host/AuthorizationRecord.h"
#include "host/IDataServiceClient.h"

struct DataServiceSettings
{
    std::wstring userAgent;
    std::wstring base;   // scheme and host (and any path) of Hostname, then PathPrefix and Service; no final "/"
    std::wstring deviceId;
    std::wstring siteId;
    int product = 0;
    std::wstring productVersion;
    bool signs = false;
    AuthorizationRecord authorization;
};

// The settings from the creation arguments; false when Hostname or Service is missing.
bool MakeDataServiceSettings(const wchar_t* userAgent, const wchar_t* hostname, const wchar_t* service, int product,
                             const wchar_t* productVersion, const wchar_t* deviceId,
                             const AuthorizationRecord* authorization, const wchar_t* pathPrefix,
                             const wchar_t* siteId, DataServiceSettings& settings);

class CDataServiceClient final : public IDataServiceClient
{
public:
    explicit CDataServiceClient(DataServiceSettings settings) : m_settings(std::move(settings)) {}

    bool UploadFile(const wchar_t* container, const wchar_t* name, const wchar_t* filePath) override;
    bool SendToQueue(const wchar_t* queue, const wchar_t* message, const wchar_t* label) override;
    bool UploadToDataContainer(const wchar_t* operationId, const wchar_t* owner, const wchar_t* filePath,
                               const wchar_t* contentType, const DataServiceHeaders& headers) override;
    void SetProxy(ICommsProxyList* proxies) override;
    void Reserved5() override {}
    void Reserved6() override {}
    void Reserved7() override {}
    void Reserved8() override {}
    void Reserved9() override {}
    void Reserved10() override {}
    void Reserved11() override {}
    void Reserved12() override {}
    void Reserved13() override {}
    void Reserved14() override {}
    void SetCertificateTrust(ICertificateTrust* trust) override;

private:
    // path: below the service, already encoded. True on a 2xx answer.
    bool Run(const wchar_t* verb, const std::wstring& path, HttpHeaders headers, const void* body,
             size_t bodyLength, const std::wstring& bodyFile);

    DataServiceSettings m_settings;
    ProxyRoutes m_routes;
    TrustRules m_trust;
};
