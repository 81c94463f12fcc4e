#include "platform/Uuid.h"

#include <cwctype>

namespace
{

// Owns the text that UuidToStringW allocates.
class CRpcString
{
public:
    CRpcString() = default;
    ~CRpcString()
    {
        if (m_text != nullptr)
            ::RpcStringFreeW(&m_text);
    }
    CRpcString(const CRpcString&) = delete;
    CRpcString& operator=(const CRpcString&) = delete;

    RPC_WSTR* Put() { return &m_text; }
    const wchar_t* Get() const { return reinterpret_cast<const wchar_t*>(m_text); }

private:
    RPC_WSTR m_text = nullptr;
};

} // namespace

RPC_STATUS NewUuidText(std::wstring& out, bool braced)
{
    UUID uuid{};
    const RPC_STATUS created = ::UuidCreate(&uuid);
    if (created != RPC_S_OK && created != RPC_S_UUID_LOCAL_ONLY)
        return created;
    CRpcString text;
    const RPC_STATUS converted = ::UuidToStringW(&uuid, text.Put());
    if (converted != RPC_S_OK)
        return converted;
    if (text.Get() == nullptr)
        return RPC_S_OUT_OF_MEMORY;
    std::wstring id = braced ? L"{" : L"";
    for (const wchar_t* c = text.Get(); *c != L'\0'; ++c)
        id.push_back(static_cast<wchar_t>(std::towlower(*c)));
    if (braced)
        id.push_back(L'}');
    out.swap(id);
    return created;
}
