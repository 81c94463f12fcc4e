// The development agent's network service: carries a JSON request to the repository server of another agent
// (README).

#include "../common/PeerRequest.h"
#include "CComponentSettings.h"
#include "host/ComponentExports.h"
#include "host/IRemoteEndpointControlClient.h"
#include "platform/CHandedOut.h"
#include "platform/TextUtil.h"

#include <atomic>
#include <memory>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

constexpr wchar_t kRepositoryPort[] = L"Fenrik.RepositoryPort";
constexpr wchar_t kNoClient[] = L"Fenrik.Fault.NoClient";
constexpr wchar_t kRefuse[] = L"Fenrik.Fault.Refuse";
constexpr std::uint32_t kDefaultRepositoryPort = 18226;

CComponentSettings g_settings;
std::atomic<DWORD> g_sent{0};
std::atomic<DWORD> g_accepted{0};

class CRemoteEndpointControlClient final : public IRemoteEndpointControlClient
{
public:
    bool SendRequest(const wchar_t* address, const wchar_t* jsonText) override
    {
        try
        {
            ++g_sent;
            if (address == nullptr || jsonText == nullptr || g_settings.IsOn(kRefuse))
                return false;
            const auto port = static_cast<std::uint32_t>(g_settings.Number(kRepositoryPort, kDefaultRepositoryPort));
            const int status = standin::PostToRepository(address, port, WideToUtf8(jsonText));
            if (status < 200 || status >= 300)
                return false;
            ++g_accepted;
            return true;
        }
        catch (...)
        {
            return false;
        }
    }
};

CHandedOut<IRemoteEndpointControlClient> g_clients;

} // namespace

EXPORT IRemoteEndpointControlClient* GetIRemoteEndpointControlClient()
{
    try
    {
        if (g_settings.IsOn(kNoClient))
            return nullptr;
        return g_clients.HandOut(std::make_unique<CRemoteEndpointControlClient>());
    }
    catch (...)
    {
        return nullptr;
    }
}

// An address not handed out is ignored.
EXPORT void FreeIRemoteEndpointControlClient(IRemoteEndpointControlClient* client)
{
    g_clients.TakeBack(&client);
}

EXPORT DWORD FenrikOutstandingObjects()
{
    return g_clients.Outstanding();
}

// Requests sent through slot 1, and those a peer accepted, since the library was loaded.
EXPORT DWORD FenrikSentRequests()
{
    return g_sent.load();
}

EXPORT DWORD FenrikAcceptedRequests()
{
    return g_accepted.load();
}
