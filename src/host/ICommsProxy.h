#pragma once
// The proxy objects of the communications component: a proxy list (the ordered routes a connection tries)
// and a proxy configuration (one route, as created through ICommsWrapper slot 4 or filled by a request with
// the proxy an exchange used). Both are created and released through ICommsWrapper, never deleted.
// Texts are wide C strings that stay owned by the caller (arguments) or by the object (results; valid while
// the object lives, never null: an absent text is empty).
//
// Shared by the plug-in and the stand-in component; binary contract between modules built by this toolchain.

#include "platform/Win.h"

// Route modes of a proxy configuration.
constexpr DWORD kProxyModeExplicit = 1;
constexpr DWORD kProxyModeWpad = 2;   // WPAD auto-detection or a PAC file

// Kinds of ICommsProxyList::AddAutomatic.
constexpr DWORD kAutoProxyWinHttp = 1;
constexpr DWORD kAutoProxyIe = 2;
constexpr DWORD kAutoProxyWpad = 3;

class ICommsProxyConfig
{
public:
    virtual ~ICommsProxyConfig() = default;                  // slot 0
    [[nodiscard]] virtual DWORD GetMode() const = 0;                       // slot 1
    virtual const wchar_t* GetProxyList() const = 0;         // slot 2
    virtual const wchar_t* GetUser() const = 0;              // slot 3
    virtual const wchar_t* GetPassword() const = 0;          // slot 4
    virtual const wchar_t* GetWpadUrl() const = 0;           // slot 5
    virtual const wchar_t* GetReserved() const = 0;          // slot 6: the fifth creation text
    [[nodiscard]] virtual bool GetAutoDetect() const = 0;                  // slot 7
    [[nodiscard]] virtual bool GetFallback() const = 0;                    // slot 8
    virtual void Reserved9() = 0;
    // Slot 10: same route as other (the fallback flag is not part of the comparison). False for null.
    [[nodiscard]] virtual bool Equals(const ICommsProxyConfig* other) const = 0;
};

// Each Add returns whether the list accepted the route.
class ICommsProxyList
{
public:
    virtual ~ICommsProxyList() = default;                                                      // slot 0
    [[nodiscard]] virtual bool AddDirect(bool fallback) = 0;                                                 // slot 1
    // proxyList: "host[:port]" pieces separated by ";".
    [[nodiscard]] virtual bool AddExplicit(const wchar_t* proxyList, const wchar_t* user, const wchar_t* password,
                             const wchar_t* reserved, bool fallback) = 0;                      // slot 2
    [[nodiscard]] virtual bool AddPac(const wchar_t* pacUrl, const wchar_t* user, const wchar_t* password,
                                      DWORD reserved1, DWORD reserved2, bool fallback) = 0; // slot 3
    // kind: kAutoProxyWinHttp, kAutoProxyIe or kAutoProxyWpad.
    [[nodiscard]] virtual bool AddAutomatic(DWORD kind, bool fallback) = 0;                                  // slot 4
    virtual void Reserved5() = 0;
    virtual void Reserved6() = 0;
    virtual void Reserved7() = 0;
    virtual void Reserved8() = 0;
    virtual void Reserved9() = 0;
    // Slot 10: adds a route equal to config; the list keeps its own copy, config stays the caller's.
    [[nodiscard]] virtual bool AddProxyConfig(const ICommsProxyConfig* config) = 0;
};
