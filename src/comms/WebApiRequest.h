#pragma once
// A web API call described for a request dispatcher. URL, verb and User-Agent come from the configuration:
// "Communications.<service>.<key>", else "Communications.Defaults.<key>", read again on every call so that a
// configuration change reaches the next send of the same request. The body belongs to the caller; the
// configuration utility to its component.

#include "comms/IRequest.h"
#include "host/IConfigUtil.h"

#include <string>

// Service name of plain file downloads: their URL is given, not configured.
constexpr wchar_t kDownloadService[] = L"Download_File";

// Parses "Name: value" lines ended by CR LF (the last may lack them) into out, keeping names already there.
// Lines without ":" are skipped. False when a name or value is only blanks; the pairs before it stay in out.
[[nodiscard]] bool ParseHeaderLines(const std::wstring& text, HeaderMap& out);

class WebApiRequest : public IRequest
{
public:
    // A null configUtil takes the module's. The description is the service name, then a blank and the label
    // when there is one.
    WebApiRequest(IConfigUtil* configUtil, const std::wstring& label, IRequestBody* body, std::wstring serviceName,
                  UrlParameterMap urlParameters, std::wstring resource);

    std::wstring GetDescription() const override;
    void SetBaseUrl(const std::wstring& url) override;
    std::wstring GetUrl() override;
    std::wstring GetVerb() const override;
    std::wstring GetUserAgent() const override;
    void SetUrlParameters(const UrlParameterMap& parameters) override;
    IRequestBody* GetBody() const override;
    void GetHeaders(HeaderMap& out) override;
    void AddHeader(const std::wstring& name, const std::wstring& value) override;
    [[nodiscard]] bool AddHeadersFromText(const std::wstring& text) override;
    void AddHeaders(const HeaderMap& headers) override;
    [[nodiscard]] bool ParseHeaderText(const std::wstring& text, HeaderMap& out) const override;
    void SetHeaders(const HeaderMap& headers) override;
    void SetRequestFlags(DWORD flags) override;
    [[nodiscard]] DWORD GetRequestFlags() const override;

    // The verb of a request without a service name (a configured service reads its own).
    void SetVerb(std::wstring verb);

protected:
    // Takes the URL as it stands and rebuilds the description from it.
    void AssignUrl(std::wstring url);

private:
    std::wstring ReadSetting(const wchar_t* key) const;
    std::wstring ComposeConfiguredUrl() const;
    [[nodiscard]] bool FillPlaceholders();
    void RebuildDescription();

    IConfigUtil* m_configUtil;
    std::wstring m_serviceName;
    IRequestBody* m_body;
    std::wstring m_resource;
    std::wstring m_url;
    bool m_urlFilled = false;   // m_url is SetBaseUrl's, its placeholders filled
    std::wstring m_verb;
    std::wstring m_description;
    UrlParameterMap m_urlParameters;
    HeaderMap m_headers;
    DWORD m_requestFlags = 0;
};
