#pragma once
// The proxy that worked for a connection, as kept in the configuration between connections. Its JSON
// form holds the password in the clear.

#include "host/ICommsProxy.h"

#include <string>

struct UsedProxyRecord
{
    DWORD mode = 0;
    std::wstring proxyList;
    std::wstring username;
    std::wstring password;
    std::wstring wpadUrl;
    bool wpadAutoDetect = false;
    bool fallback = false;

    // The items of config; null texts become empty.
    static UsedProxyRecord From(const ICommsProxyConfig& config);

    // Items in order "Mode", "ProxyList", "Username", "Password", "WPADUrl" (texts only when not empty),
    // "WPADAutoDetect", "Fallback". False, with out unchanged, when the text cannot be written.
    [[nodiscard]] bool ToJson(std::wstring& out) const;
    // Missing or mistyped items keep their defaults. False, with the record unchanged, when text is empty
    // or not a JSON object.
    [[nodiscard]] bool FromJson(const std::wstring& text);
};
