#pragma once
// One owner for every Windows handle. A handle kind is one line: the handle type and a traits class that
// knows which value means "none" and how to close it. Closing keeps the caller's GetLastError intact, so
// a failure code read after an early return survives the cleanup on the way out.

#include "platform/Win.h"

#include <wincrypt.h>

#include <utility>

template <typename T, typename Traits>
class CUniqueHandle
{
public:
    CUniqueHandle() noexcept = default;
    explicit CUniqueHandle(T handle) noexcept : m_handle(handle) {}
    ~CUniqueHandle() { Reset(); }

    CUniqueHandle(const CUniqueHandle&) = delete;
    CUniqueHandle& operator=(const CUniqueHandle&) = delete;
    CUniqueHandle(CUniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    CUniqueHandle& operator=(CUniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    T Get() const noexcept { return m_handle; }
    [[nodiscard]] bool IsValid() const noexcept { return m_handle != Traits::None(); }
    explicit operator bool() const noexcept { return IsValid(); }

    // Closes what is held and hands out the address for an out-parameter.
    T* Put() noexcept
    {
        Reset();
        return &m_handle;
    }

    // Hands the handle over without closing it: the caller owns it now, so dropping the result is a leak.
    [[nodiscard]] T Release() noexcept { return std::exchange(m_handle, Traits::None()); }

    // Closes what is held and takes handle; handing back the very handle held changes nothing (closing it
    // would leave the owner holding a closed handle).
    void Reset(T handle = Traits::None()) noexcept
    {
        if (handle == m_handle)
            return;
        if (m_handle != Traits::None())
        {
            const DWORD lastError = ::GetLastError();
            Traits::Close(m_handle);
            ::SetLastError(lastError);
        }
        m_handle = handle;
    }

private:
    T m_handle = Traits::None();
};

// The traits of most kinds: "none" is the null (or 0) value, and one call closes.
template <typename T, auto CloseFn>
struct ClosedBy
{
    static T None() noexcept { return T{}; }
    static void Close(T h) noexcept { CloseFn(h); }
};

// Kinds for which INVALID_HANDLE_VALUE, not null, means "none".
template <auto CloseFn>
struct InvalidValueClosedBy
{
    static HANDLE None() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept { CloseFn(h); }
};

// Closers that take a flag besides the handle.
inline void ReleaseCryptContext(HCRYPTPROV h) noexcept
{
    ::CryptReleaseContext(h, 0);
}
inline void CloseCertStore(HCERTSTORE h) noexcept
{
    ::CertCloseStore(h, 0);
}

using CHandle = CUniqueHandle<HANDLE, ClosedBy<HANDLE, ::CloseHandle>>;
using CFileHandle = CUniqueHandle<HANDLE, InvalidValueClosedBy<::CloseHandle>>;
using CRegKey = CUniqueHandle<HKEY, ClosedBy<HKEY, ::RegCloseKey>>;
using CModule = CUniqueHandle<HMODULE, ClosedBy<HMODULE, ::FreeLibrary>>;
using CFindHandle = CUniqueHandle<HANDLE, InvalidValueClosedBy<::FindClose>>;
using CCryptContext = CUniqueHandle<HCRYPTPROV, ClosedBy<HCRYPTPROV, ReleaseCryptContext>>;
using CCryptHash = CUniqueHandle<HCRYPTHASH, ClosedBy<HCRYPTHASH, ::CryptDestroyHash>>;
using CCryptKey = CUniqueHandle<HCRYPTKEY, ClosedBy<HCRYPTKEY, ::CryptDestroyKey>>;
using CCertStore = CUniqueHandle<HCERTSTORE, ClosedBy<HCERTSTORE, CloseCertStore>>;
using CCryptMsg = CUniqueHandle<HCRYPTMSG, ClosedBy<HCRYPTMSG, ::CryptMsgClose>>;
using CCertContext = CUniqueHandle<PCCERT_CONTEXT, ClosedBy<PCCERT_CONTEXT, ::CertFreeCertificateContext>>;
// Memory that Windows allocated for the caller (CommandLineToArgvW, FormatMessage's buffer).
using CLocalMemory = CUniqueHandle<HLOCAL, ClosedBy<HLOCAL, ::LocalFree>>;
