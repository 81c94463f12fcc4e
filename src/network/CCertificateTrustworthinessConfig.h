#pragma once
// The extra server certificates the agent trusts, per domain, read once from the configuration into a
// certificate-trust object of the communications component. One instance serves one connection or one hit.
// The trust object is owned by the instance; the component must outlive it.

#include "host/CConfigReader.h"
#include "host/ICertificateTrust.h"
#include "host/ICommsWrapper.h"
#include "network/CommsObjects.h"

#include <map>
#include <string>
#include <vector>

class ICertificateTrustworthinessConfig
{
public:
    virtual ~ICertificateTrustworthinessConfig() = default;
    // False when there is no trust object: nothing is then set or attached.
    [[nodiscard]] virtual bool IsValid() const = 0;
    virtual ICertificateTrust* GetTrustHandle() const = 0;
    // Hand the trust object to a data-service client or a request of the communications component; nothing
    // happens when either is null.
    virtual void AttachTrustToClient(IDataServiceClient* client) = 0;
    virtual void AttachTrustToRequest(ICommsRequest* request) = 0;
};

class CCertificateTrustworthinessConfig : public ICertificateTrustworthinessConfig, public CConfigReader
{
public:
    // A null util takes the module's (throws std::invalid_argument("ConfigUtil") when there is none).
    // Unreadable settings give an enabled trust object without rules.
    explicit CCertificateTrustworthinessConfig(ICommsWrapper* comms, IConfigUtil* util = nullptr);
    ~CCertificateTrustworthinessConfig() override = default;
    CCertificateTrustworthinessConfig(const CCertificateTrustworthinessConfig&) = delete;
    CCertificateTrustworthinessConfig& operator=(const CCertificateTrustworthinessConfig&) = delete;

    [[nodiscard]] bool IsValid() const override { return m_valid; }
    ICertificateTrust* GetTrustHandle() const override { return m_trust.get(); }
    void AttachTrustToClient(IDataServiceClient* client) override;
    void AttachTrustToRequest(ICommsRequest* request) override;

private:
    // Domains in ascending code-unit order.
    using Rules = std::map<std::wstring, std::vector<std::wstring>>;

    [[nodiscard]] bool Load();
    void ReadSettings(bool& enabled, Rules& rules) const;

    ICommsWrapper* m_comms;
    CCommsCertificateTrust m_trust;
    bool m_valid = false;
};
