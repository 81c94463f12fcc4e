#pragma once
// One agent service provider: an address and a port, as the discovery compares and stores them.

#include "message/CMessageObject.h"

#include <cstdint>
#include <string>

class CAgentServiceProvider
{
public:
    explicit CAgentServiceProvider(std::wstring address = std::wstring(), std::uint32_t port = 0);
    virtual ~CAgentServiceProvider() = default;                               // slot 0

    // Same address, code unit by code unit, and same port.
    [[nodiscard]] virtual bool Equals(const CAgentServiceProvider& other) const;            // slot 1
    // Whether a provider announced with this message may be used; always true here.
    [[nodiscard]] virtual bool IsUsable(const CMessageObject& announcement);                // slot 2
    // Adds "Address" (text) and "Port" (integer).
    virtual void ToMessage(CMessageObject& message) const;                    // slot 3
    // Reads "Address" when it is a text and "Port" when it is an integer; true when either was read.
    [[nodiscard]] virtual bool FromMessage(const CMessageObject& message);                  // slot 4

    const std::wstring& Address() const { return m_address; }
    std::uint32_t Port() const { return m_port; }

private:
    std::wstring m_address;
    std::uint32_t m_port;
};
