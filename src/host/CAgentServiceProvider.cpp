#include "host/CAgentServiceProvider.h"

#include <utility>

namespace
{
constexpr wchar_t kAddressKey[] = L"Address";
constexpr wchar_t kPortKey[] = L"Port";
} // namespace

CAgentServiceProvider::CAgentServiceProvider(std::wstring address, std::uint32_t port)
    : m_address(std::move(address)), m_port(port)
{
}

bool CAgentServiceProvider::Equals(const CAgentServiceProvider& other) const
{
    return m_address == other.m_address && m_port == other.m_port;
}

bool CAgentServiceProvider::IsUsable(const CMessageObject&)
{
    return true;
}

void CAgentServiceProvider::ToMessage(CMessageObject& message) const
{
    message.AddString(kAddressKey, m_address);
    message.AddUInt32(kPortKey, m_port);
}

bool CAgentServiceProvider::FromMessage(const CMessageObject& message)
{
    const bool hasAddress = message.GetString(kAddressKey, m_address);
    const bool hasPort = message.GetUInt32(kPortKey, m_port);
    return hasAddress || hasPort;
}
