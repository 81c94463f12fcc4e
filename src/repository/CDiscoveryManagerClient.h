#pragma once
// The discovery component (Yarran.dll in the utilities folder) for one use: loaded at construction when the
// discovery settings enable it, its interface given back and the library unloaded at destruction. Every
// operation returns a Windows error number, ERROR_DLL_INIT_FAILED when no interface was obtained.

#include "host/CDiscoveryManagerLoader.h"
#include "host/IConfigUtil.h"
#include "host/IDiscoveryInterface.h"

#include <cstdint>
#include <memory>
#include <string>

// A request for another agent's repository, as the discovery component carries it.
struct RepositoryMessage
{
    std::wstring service = L"Repository";
    std::wstring parameters;   // JSON text
    std::wstring kind = L"event";
    std::wstring body;         // JSON text of the request
};

// Handlers of a running discovery. They sit in process-wide slots: a second start replaces the first's.
using DiscoveryHandler = void (*)(const void* data);

class IDiscoveryManagerClient
{
public:
    virtual ~IDiscoveryManagerClient() = default;
    virtual DWORD StartDiscovery(const std::wstring& text, DiscoveryHandler found, DiscoveryHandler lost) = 0;
    virtual DWORD StopDiscovery() = 0;
    virtual DWORD Query3(UINT_PTR argument) = 0;   // the interface's slot 4
    virtual DWORD Query4(UINT_PTR argument) = 0;   // the interface's slot 5
    virtual DWORD Query5(UINT_PTR argument) = 0;   // the interface's slot 3
    // ERROR_INVALID_PARAMETER for an empty address or body; else the component's answer (0: delivered).
    virtual DWORD SendRepositoryMessage(const std::wstring& address, const RepositoryMessage& message) = 0;
};

namespace Discovery
{

class CDiscoveryManagerClient : public IDiscoveryManagerClient
{
public:
    // util serves the discovery settings (null: the module's; without one the defaults apply).
    explicit CDiscoveryManagerClient(IConfigUtil* util = nullptr);
    ~CDiscoveryManagerClient() override;
    CDiscoveryManagerClient(const CDiscoveryManagerClient&) = delete;
    CDiscoveryManagerClient& operator=(const CDiscoveryManagerClient&) = delete;

    DWORD StartDiscovery(const std::wstring& text, DiscoveryHandler found, DiscoveryHandler lost) override;
    DWORD StopDiscovery() override;
    DWORD Query3(UINT_PTR argument) override;
    DWORD Query4(UINT_PTR argument) override;
    DWORD Query5(UINT_PTR argument) override;
    DWORD SendRepositoryMessage(const std::wstring& address, const RepositoryMessage& message) override;

private:
    bool m_enabled = true;
    std::uint16_t m_port = 0;
    std::unique_ptr<CDiscoveryManagerLoader> m_loader;
    IDiscoveryInterface* m_discovery = nullptr;
};

} // namespace Discovery
