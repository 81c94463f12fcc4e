#pragma once
// A client of one of the platform's data services (ICommsWrapper slot 8 creates it from the service's
// connection settings, slot 9 releases it). Every operation is one HTTP request and returns true when the
// service answered with a 2xx status. Texts are wide C strings owned by the caller. The wire formats are
// in the stand-in component's README.
//
// Shared by the plug-in and the stand-in component; binary contract between modules built by this toolchain
// (the header map is a std::map: both sides must use the same C++ runtime layout).

#include "host/ICertificateTrust.h"
#include "host/ICommsProxy.h"

#include <map>
#include <string>

using DataServiceHeaders = std::map<std::wstring, std::wstring>;

class IDataServiceClient
{
public:
    virtual ~IDataServiceClient() = default;   // slot 0
    // Slot 1: the file's bytes stored as name in container.
    [[nodiscard]] virtual bool UploadFile(const wchar_t* container, const wchar_t* name, const wchar_t* filePath) = 0;
    // Slot 2: one message to queue; label may be null or empty.
    [[nodiscard]] virtual bool SendToQueue(const wchar_t* queue, const wchar_t* message, const wchar_t* label) = 0;
    // Slot 3: the file as part of the operation's data container, with extra request headers.
    [[nodiscard]] virtual bool UploadToDataContainer(const wchar_t* operationId, const wchar_t* owner,
                                                     const wchar_t* filePath, const wchar_t* contentType,
                                                     const DataServiceHeaders& headers) = 0;
    virtual void SetProxy(ICommsProxyList* proxies) = 0;   // slot 4
    // Slots 5 to 14 belong to data services that this system does not call (data by id, event hub).
    virtual void Reserved5() = 0;
    virtual void Reserved6() = 0;
    virtual void Reserved7() = 0;
    virtual void Reserved8() = 0;
    virtual void Reserved9() = 0;
    virtual void Reserved10() = 0;
    virtual void Reserved11() = 0;
    virtual void Reserved12() = 0;
    virtual void Reserved13() = 0;
    virtual void Reserved14() = 0;
    virtual void SetCertificateTrust(ICertificateTrust* trust) = 0;   // slot 15
};
