// "TrackingSend" and "FileUpload" over HTTPS through real servers: nginx as the management server's TLS front
// (forwarding to the fixture), tinyproxy with Basic credentials as the proxy, the certificate-trust settings
// deciding which server certificates the communications stand-in believes. Each row says what the fixture,
// nginx and the proxy saw.

#include "PluginEndToEndTest.h"

#include "platform/TextUtil.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace
{

using ECertificate = CNginxFront::ECertificate;

constexpr char kHitPath[] = "/api/tracking/hit";
constexpr char kUploadPrefix[] = "/data/telemetry-files/";
constexpr char kUploadPath[] = "/data/telemetry-files/op-1/upload.bin";
constexpr char kTrustKey[] = "Communications.CertificateTrustworthiness.Settings";
constexpr char kProxyKey[] = "Proxy.Default.FallbackList";

std::string Authority(const wchar_t* name)
{
    return WideToUtf8(CNginxFront::AuthorityText(name));
}

std::size_t Count(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class HttpsEndToEndTest : public RealServersEndToEndTest
{
protected:
    void SetUp() override
    {
        RealServersEndToEndTest::SetUp();
        if (HasFatalFailure())
            return;
        m_server.ReplyJson("GET", kHitPath, 200, "{}");
        m_server.StoreUploads(kUploadPrefix, m_install.Folder() + L"Received");
        StartNginx();
    }

    // Utils\config.json for the server behind the front with that certificate, then the changes (values are
    // JSON texts: strings quoted, settings objects as they are).
    void Configure(ECertificate certificate, const std::map<std::string, std::string>& changes = {})
    {
        const std::string host = WideToUtf8(m_nginx.Url(certificate).substr(8)); // after "https://"
        std::map<std::string, std::string> settings = {
            {"Communications.Defaults.Scheme", "\"https\""},
            {"Communications.Defaults.Hostname", "\"" + host + "\""},
            {"Communications.Method_TrackingSend.Path", "\"api/tracking/hit?trackIndex={trackIndex}\""},
            {"Register.Register.SiteId", "\"site-7\""},
            {"Register.Register.DeviceId", "\"device-7\""},
            {"Register.Agent.TestMode", "\"0\""},
            {"Services.Defaults.Hostname", "\"https://" + host + "\""},
            {"Services.Defaults.DeviceId", "\"device-7\""},
            {"Services.Defaults.SiteId", "\"site-7\""},
            {"Services.Defaults.Product", "\"3\""},
            {"Services.Defaults.ProductVersion", "\"1.2.3\""},
            {"Services.Authorization.AuthorizationId", "\"auth-7\""},
            {"Services.Authorization.Secret", "\"s-7\""},
            {"Services.Service_TelemetryFileUpload.Type", "\"DataContainer\""},
            {"Services.Service_TelemetryFileUpload.PathPrefix", "\"data\""},
            {"Services.Service_TelemetryFileUpload.Service", "\"telemetry-files\""}};
        for (const auto& [key, value] : changes)
            settings[key] = value;
        std::string members;
        for (const auto& [key, value] : settings)
            members += ",\"" + key + "\":" + value;
        WriteConfiguration(members);
    }

    DWORD Track()
    {
        const std::wstring file = m_install.Folder() + L"hit.json";
        WriteBytes(file, R"({"TrackIndex":"https"})");
        return Deliver(R"({"TrackingSend":{"Filename":")" + WideToUtf8(JsonEscaped(file)) + "\"}}");
    }

    // One upload; the file is kept.
    DWORD Upload()
    {
        const std::wstring file = m_install.Folder() + L"upload.bin";
        WriteBytes(file, "upload over https");
        return Deliver(R"({"FileUpload":{"Filename":")" + WideToUtf8(JsonEscaped(file)) +
                       R"(","OperationId":"op-1","KeepFile":true,"RetryCount":2,)"
                       R"("Status":{"Code":7,"Description":"Collected"}}})");
    }

    // What the servers saw of the hits since the last call: "fixture N, nginx N" (nginx counts from its start).
    // A certificate probe ("HEAD /") may come before a request under trust rules.
    std::string Seen()
    {
        const std::string seen = "fixture " + std::to_string(m_server.RequestsTo(kHitPath).size()) + ", nginx " +
                                 std::to_string(Count(m_nginx.AccessLog(), kHitPath));
        m_server.ClearRequests();
        return seen;
    }
};

} // namespace

// The certificate-trust settings, each row a tracking hit through the front with one certificate. Refused rows
// end in the TLS handshake: nothing reaches nginx's request log or the fixture.
TEST_F(HttpsEndToEndTest, TrustSettingsDecideWhichServerCertificatesAreBelieved)
{
    const auto rules = [](const std::string& domain, const wchar_t* certificate) {
        return R"({"TrustedCertificatesByDomain":{")" + domain + R"(":[")" + Authority(certificate) + R"("]}})";
    };
    const auto local = [&](const wchar_t* certificate) { return rules("127.0.0.1", certificate); };
    const struct
    {
        const char* label;
        ECertificate certificate;
        std::string trust; // the settings, "" for none
        bool delivered;
    } rows[] = {
        {"root trusted in the machine store", ECertificate::Trusted, "", true},
        {"unknown root, no rule", ECertificate::SelfSigned, "", false},
        {"rule with the SHA-256 thumbprint", ECertificate::SelfSigned, local(L"selfsigned.sha256"), true},
        {"rule with the SHA-1 thumbprint", ECertificate::SelfSigned, local(L"selfsigned.sha1"), true},
        {"rule with the DER in Base64", ECertificate::SelfSigned, local(L"selfsigned.b64"), true},
        {"rule for another domain", ECertificate::SelfSigned, rules("other.example", L"selfsigned.sha256"), false},
        {"wrong thumbprint", ECertificate::SelfSigned, local(L"server.sha256"), false},
        {"rules disabled", ECertificate::SelfSigned,
         R"({"Enabled":false,"TrustedCertificatesByDomain":{"127.0.0.1":[")" + Authority(L"selfsigned.sha256") +
             "\"]}}",
         false},
        {"expired, no rule", ECertificate::Expired, "", false},
        {"expired, with a matching rule", ECertificate::Expired, local(L"expired.sha256"), true},
        {"another host's certificate, no rule", ECertificate::OtherName, "", false},
        {"another host's certificate, with a matching rule", ECertificate::OtherName, local(L"othername.sha256"), true},
    };
    std::size_t logged = 0;
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.label);
        Configure(row.certificate, row.trust.empty() ? std::map<std::string, std::string>{}
                                                     : std::map<std::string, std::string>{{kTrustKey, row.trust}});
        EXPECT_EQ(Track(),
                  row.delivered ? static_cast<DWORD>(ERROR_SUCCESS) : static_cast<DWORD>(ERROR_REQUEST_REFUSED));
        logged += row.delivered;
        EXPECT_EQ(Seen(), "fixture " + std::to_string(row.delivered) + ", nginx " + std::to_string(logged));
    }
}

// tinyproxy asking for Basic credentials stands between the agent and the server: a CONNECT for HTTPS (through
// nginx), the absolute form for plain HTTP (straight to the fixture). Each row is a tracking hit and an upload.
TEST_F(HttpsEndToEndTest, AProxyThatAsksForCredentialsCarriesBothEventsWhenGivenTheRightOnes)
{
    ASSERT_NO_FATAL_FAILURE(StartProxy());
    const std::string& proxy = m_proxyAddress;
    const std::string right = Credentials("s3cret");
    const std::string plainServer = "\"" + m_server.HostAndPort() + "\"";
    const struct
    {
        const char* label;
        ECertificate certificate;
        bool https;
        std::string routes;
        std::string trust;
        bool delivered;
        const char* proxySaw; // in its log
    } rows[] = {
        {"HTTPS, right credentials", ECertificate::Trusted, true, Route(proxy, right, false), "", true,
         "CONNECT 127.0.0.1:"},
        {"HTTPS, wrong password", ECertificate::Trusted, true, Route(proxy, Credentials("wrong"), false), "", false,
         "CONNECT 127.0.0.1:"},
        {"HTTPS, no credentials", ECertificate::Trusted, true, Route(proxy, "", false), "", false,
         "CONNECT 127.0.0.1:"},
        {"HTTP, right credentials", ECertificate::Trusted, false, Route(proxy, right, false), "", true,
         " http://127.0.0.1:"},
        {"HTTP, no credentials", ECertificate::Trusted, false, Route(proxy, "", false), "", false,
         " http://127.0.0.1:"},
        {"a proxy that is down first, with fallback", ECertificate::Trusted, true,
         Route(m_deadProxyAddress, "", true) + "," + Route(proxy, right, false), "", true, "CONNECT 127.0.0.1:"},
        {"the proxy and a trust rule together", ECertificate::SelfSigned, true, Route(proxy, right, false),
         R"({"TrustedCertificatesByDomain":{"127.0.0.1":[")" + Authority(L"selfsigned.sha256") + "\"]}}", true,
         "CONNECT 127.0.0.1:"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.label);
        std::map<std::string, std::string> changes = {{kProxyKey, R"({"ProxyConfig":[)" + row.routes + "]}"}};
        if (!row.https)
        {
            changes["Communications.Defaults.Scheme"] = "\"http\"";
            changes["Communications.Defaults.Hostname"] = plainServer;
            changes["Services.Defaults.Hostname"] = "\"" + m_server.BaseUrl() + "\"";
        }
        if (!row.trust.empty())
            changes[kTrustKey] = row.trust;
        Configure(row.certificate, changes);
        const std::size_t before = Count(m_proxy.Log(), row.proxySaw);
        EXPECT_EQ(Track(),
                  row.delivered ? static_cast<DWORD>(ERROR_SUCCESS) : static_cast<DWORD>(ERROR_REQUEST_REFUSED));
        EXPECT_EQ(Upload(),
                  row.delivered ? static_cast<DWORD>(ERROR_SUCCESS) : static_cast<DWORD>(ERROR_REQ_NOT_ACCEP));
        EXPECT_GE(Count(m_proxy.Log(), row.proxySaw), before + 2) << m_proxy.Log();
        const std::size_t reached = m_server.RequestsTo(kHitPath).size() + m_server.RequestsTo(kUploadPath).size();
        EXPECT_EQ(reached, row.delivered ? 2u : 0u);
        for (const CRecordedRequest& request : m_server.Requests())
            EXPECT_FALSE(request.HasHeader("proxy-authorization")) << request.target; // never past the proxy
        m_server.ClearRequests();
    }
}
