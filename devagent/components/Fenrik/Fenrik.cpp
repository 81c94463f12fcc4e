// The development agent's network service: carries a JSON request to the repository server of another agent
// (README).

#include "../common/PeerRequest.h"
#include "../common/StandInConfig.h"
#include "host/ComponentExports.h"
#include "host/IRemoteEndpointControlClient.h"
#include "platform/TextUtil.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <set>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

constexpr wchar_t kRepositoryPort[] = L"Fenrik.RepositoryPort";
constexpr wchar_t kNoClient[] = L"Fenrik.Fault.NoClient";
constexpr wchar_t kRefuse[] = L"Fenrik.Fault.Refuse";
constexpr std::uint32_t kDefaultRepositoryPort = 18226;

std::mutex g_mutex;
std::set<IRemoteEndpointControlClient*> g_outstanding;
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
            const CMessageObject config = standin::ReadConfig();
            if (address == nullptr || jsonText == nullptr || standin::IsOn(config, kRefuse))
                return false;
            const std::uint32_t port = standin::UIntOr(config, kRepositoryPort, kDefaultRepositoryPort);
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

} // namespace

EXPORT IRemoteEndpointControlClient* GetIRemoteEndpointControlClient()
{
    try
    {
        if (standin::IsOn(standin::ReadConfig(), kNoClient))
            return nullptr;
        auto client = std::make_unique<CRemoteEndpointControlClient>();
        std::lock_guard<std::mutex> lock(g_mutex);
        g_outstanding.insert(client.get());
        return client.release();
    }
    catch (...)
    {
        return nullptr;
    }
}

// An address not handed out is ignored.
EXPORT void FreeIRemoteEndpointControlClient(IRemoteEndpointControlClient* client)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_outstanding.erase(client) == 0)
            return;
    }
    delete client;
}

EXPORT DWORD FenrikOutstandingObjects()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<DWORD>(g_outstanding.size());
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
