#pragma once
// The agent's entry to the platform's data services (file upload, queues, data by id, event hub, data
// containers). Each operation names a service configured under "Services" and fails, false or null, with an
// error trace when the service's settings, type or authorization do not fit or the service gives no client.
// Nothing is thrown once the dispatcher exists.

#include "host/IDataServiceClient.h"

#include <string>

class IMessageDispatcher
{
public:
    virtual ~IMessageDispatcher() = default; // slot 0
    // Slot 1: a "FileUpload" service stores the file as name in its container.
    [[nodiscard]] virtual bool UploadFile(const std::wstring& serviceName, const std::wstring& filePath,
                                          const std::wstring& name) = 0;
    // Slot 2: a "Queue" service takes one message into its container; label may be empty.
    [[nodiscard]] virtual bool SendToQueue(const std::wstring& serviceName, const std::wstring& message,
                                           const std::wstring& label) = 0;
    // Slot 3: a client of a "GetDataById" or "SetDataById" service, created for deviceId (no "DeviceId"
    // setting is needed). The caller gives it back with ReleaseClient.
    [[nodiscard]] virtual IDataServiceClient* OpenDataByIdClient(const std::wstring& serviceName,
                                                                 const std::wstring& deviceId) = 0;
    // Slot 4: gives back a client this dispatcher handed out; anything else is traced and left alone.
    virtual void ReleaseClient(IDataServiceClient* client) = 0;
    // Slot 5: a client of an "EventHub" service; the caller gives it back with ReleaseClient.
    [[nodiscard]] virtual IDataServiceClient* OpenEventHubClient(const std::wstring& serviceName) = 0;
    // Slot 6: the same as slot 4.
    virtual void ReleaseEventHubClient(IDataServiceClient* client) = 0;
    // Slot 7: the file as part of the operation's container of a "DataContainer" service. Headers whose name
    // is not an HTTP token, or whose name or value holds a control character, are traced and left out.
    [[nodiscard]] virtual bool UploadToDataContainer(const std::wstring& serviceName, const std::wstring& filePath,
                                                     const std::wstring& contentType, const std::wstring& operationId,
                                                     const std::wstring& owner, const DataServiceHeaders& headers) = 0;
};
