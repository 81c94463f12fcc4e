#pragma once
// The data-services dispatcher over the agent's communications component, kept loaded while the dispatcher
// lives. Each operation reads the service's settings ("Services.<service>.<setting>", else
// "Services.Defaults.<setting>"), checks its "Type" (exactly, case matters), reads the "Services"
// authorization and creates a client with the configured proxy routes and certificate trust. Clients of
// uploads and queues are given back before the operation returns; handed-out clients, and the proxy and
// trust objects they refer to, live until ReleaseClient or the dispatcher's end. Safe on several threads.

#include "comms/IMessageDispatcher.h"
#include "host/IComponentAccess.h"
#include "host/IConfigUtil.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

class CMessageDispatcher : public IMessageDispatcher
{
public:
    // std::invalid_argument("configUtil") for a null configUtil; std::logic_error("Cannot Initialize
    // CommsWrapper") when the component cannot be loaded or gives no interface. Null components take the
    // installed ones; given ones, and configUtil, must outlive the dispatcher.
    explicit CMessageDispatcher(IConfigUtil* configUtil, IComponentAccess* components = nullptr);
    ~CMessageDispatcher() override;
    CMessageDispatcher(const CMessageDispatcher&) = delete;
    CMessageDispatcher& operator=(const CMessageDispatcher&) = delete;

    [[nodiscard]] bool UploadFile(const std::wstring& serviceName, const std::wstring& filePath,
                                  const std::wstring& name) override;
    [[nodiscard]] bool SendToQueue(const std::wstring& serviceName, const std::wstring& message,
                                   const std::wstring& label) override;
    [[nodiscard]] IDataServiceClient* OpenDataByIdClient(const std::wstring& serviceName,
                                                         const std::wstring& deviceId) override;
    void ReleaseClient(IDataServiceClient* client) override;
    [[nodiscard]] IDataServiceClient* OpenEventHubClient(const std::wstring& serviceName) override;
    void ReleaseEventHubClient(IDataServiceClient* client) override { ReleaseClient(client); }
    [[nodiscard]] bool UploadToDataContainer(const std::wstring& serviceName, const std::wstring& filePath,
                                             const std::wstring& contentType, const std::wstring& operationId,
                                             const std::wstring& owner, const DataServiceHeaders& headers) override;

private:
    class COpenClient;
    struct CServiceKind;

    // Null, traced, when the service does not fit kind or gives no client. A null deviceId takes the
    // service's "DeviceId" setting, which must then be there.
    std::unique_ptr<COpenClient> Open(const std::wstring& serviceName, const CServiceKind& kind,
                                      const std::wstring* deviceId);
    IDataServiceClient* HandOut(std::unique_ptr<COpenClient> open);

    IConfigUtil* m_configUtil;
    CComponentUse<ICommsWrapper> m_comms;
    std::mutex m_handedOutMutex;
    // Declared after the component: given back before it goes.
    std::map<IDataServiceClient*, std::unique_ptr<COpenClient>> m_handedOut;
};
