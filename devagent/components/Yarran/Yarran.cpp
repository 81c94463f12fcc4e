// The development agent's discovery component: carries a repository message to the repository server of the
// agent at the record's host; its other operations only count their calls (README).

#include "../common/PeerRequest.h"
#include "CComponentSettings.h"
#include "host/ComponentExports.h"
#include "host/IDiscoveryInterface.h"
#include "platform/CHandedOut.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <memory>
#include <mutex>
#include <string>

#define EXPORT extern "C" __declspec(dllexport)

namespace
{

constexpr wchar_t kNoInterface[] = L"Yarran.Fault.NoInterface";
constexpr wchar_t kRepositoryPort[] = L"Yarran.RepositoryPort";
constexpr std::uint32_t kDefaultRepositoryPort = 18226;

CComponentSettings g_settings;
std::mutex g_mutex;
std::atomic<DWORD> g_calls[7] = {};
CMessageObject g_lastMessage;   // the last record slot 6 received, under g_mutex

class CDiscovery final : public IDiscoveryInterface
{
public:
    void Release() override;
    DWORD Start(DWORD, const char*, DiscoveryHandlerFn, DiscoveryHandlerFn) override { return Count(1); }
    DWORD Stop() override { return Count(2); }
    DWORD Query3(UINT_PTR) override { return Count(3); }
    DWORD Query4(UINT_PTR) override { return Count(4); }
    DWORD Query5(UINT_PTR) override { return Count(5); }
    DWORD SendRepositoryMessage(const DiscoveryRepositoryMessage* message) override;

private:
    static DWORD Count(int slot)
    {
        ++g_calls[slot];
        return ERROR_SUCCESS;
    }
};

// The fields as they arrived; fixed fields up to their terminator or their end.
template <std::size_t N>
std::wstring FieldText(const wchar_t (&field)[N])
{
    return std::wstring(field, std::find(field, field + N, L'\0'));
}

DWORD CDiscovery::SendRepositoryMessage(const DiscoveryRepositoryMessage* message)
{
    Count(6);
    if (message == nullptr || message->version != kDiscoveryMessageVersion)
        return ERROR_INVALID_PARAMETER;
    CMessageObject received;
    received.AddString(L"service", FieldText(message->service));
    received.AddString(L"host", FieldText(message->host));
    received.AddBool(L"hostTerminated", std::find(message->host, message->host + 45, L'\0') != message->host + 45);
    received.AddString(L"kind", message->kind != nullptr ? message->kind : L"");
    received.AddString(L"body", message->body != nullptr ? message->body : L"");
    received.AddString(L"parameters", message->parameters != nullptr ? message->parameters : L"");
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_lastMessage = received;
    }
    if (message->body == nullptr)
        return ERROR_INVALID_PARAMETER;
    const auto port = static_cast<std::uint32_t>(g_settings.Number(kRepositoryPort, kDefaultRepositoryPort));
    const int status = standin::PostToRepository(FieldText(message->host), port, WideToUtf8(message->body));
    if (status == 0)
        return ERROR_CONNECTION_REFUSED;
    return status >= 200 && status < 300 ? ERROR_SUCCESS : static_cast<DWORD>(status);
}

// The interface has no virtual destructor: what is handed out is kept as what it is.
CHandedOut<CDiscovery> g_interfaces;

void CDiscovery::Release()
{
    CDiscovery* self = this;
    g_interfaces.TakeBack(&self);
}

} // namespace

EXPORT IDiscoveryInterface* get_discovery_interface(DWORD* error)
{
    try
    {
        if (g_settings.IsOn(kNoInterface))
        {
            if (error != nullptr)
                *error = ERROR_NOT_SUPPORTED;
            return nullptr;
        }
        CDiscovery* discovery = g_interfaces.HandOut(std::make_unique<CDiscovery>());
        if (error != nullptr)
            *error = discovery != nullptr ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
        return discovery;
    }
    catch (...)
    {
        if (error != nullptr)
            *error = ERROR_NOT_ENOUGH_MEMORY;
        return nullptr;
    }
}

// Interfaces handed out and not yet released.
EXPORT DWORD YarranOutstandingObjects()
{
    return g_interfaces.Outstanding();
}

// Calls of slot 1 to 6 since the library was loaded; 0 for another slot.
EXPORT DWORD YarranCalls(DWORD slot)
{
    return slot >= 1 && slot <= 6 ? g_calls[slot].load() : 0;
}

// The last repository message as JSON ("service", "host", "hostTerminated", "kind", "body", "parameters") into
// buffer; the length needed with its terminator, written only when capacity allows.
EXPORT DWORD YarranLastMessage(wchar_t* buffer, DWORD capacity)
{
    std::wstring text;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!g_lastMessage.Serialize(text))
            return 0;
    }
    const DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (buffer != nullptr && capacity >= needed)
        std::wmemcpy(buffer, text.c_str(), needed);
    return needed;
}
