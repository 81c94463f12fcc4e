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

    T Release() noexcept { return std::exchange(m_handle, Traits::None()); }

    void Reset(T handle = Traits::None()) noexcept
    {
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

struct HandleTraits
{
    static HANDLE None() noexcept { return nullptr; }
    static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};

struct FileHandleTraits
{
    static HANDLE None() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept { ::CloseHandle(h); }
};

struct RegKeyTraits
{
    static HKEY None() noexcept { return nullptr; }
    static void Close(HKEY h) noexcept { ::RegCloseKey(h); }
};

struct ModuleTraits
{
    static HMODULE None() noexcept { return nullptr; }
    static void Close(HMODULE h) noexcept { ::FreeLibrary(h); }
};

struct FindHandleTraits
{
    static HANDLE None() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) noexcept { ::FindClose(h); }
};

struct CryptProvTraits
{
    static HCRYPTPROV None() noexcept { return 0; }
    static void Close(HCRYPTPROV h) noexcept { ::CryptReleaseContext(h, 0); }
};

struct CryptHashTraits
{
    static HCRYPTHASH None() noexcept { return 0; }
    static void Close(HCRYPTHASH h) noexcept { ::CryptDestroyHash(h); }
};

struct CryptKeyTraits
{
    static HCRYPTKEY None() noexcept { return 0; }
    static void Close(HCRYPTKEY h) noexcept { ::CryptDestroyKey(h); }
};

struct CertStoreTraits
{
    static HCERTSTORE None() noexcept { return nullptr; }
    static void Close(HCERTSTORE h) noexcept { ::CertCloseStore(h, 0); }
};

struct CryptMsgTraits
{
    static HCRYPTMSG None() noexcept { return nullptr; }
    static void Close(HCRYPTMSG h) noexcept { ::CryptMsgClose(h); }
};

struct CertContextTraits
{
    static PCCERT_CONTEXT None() noexcept { return nullptr; }
    static void Close(PCCERT_CONTEXT h) noexcept { ::CertFreeCertificateContext(h); }
};

using CHandle = CUniqueHandle<HANDLE, HandleTraits>;
using CFileHandle = CUniqueHandle<HANDLE, FileHandleTraits>;
using CRegKey = CUniqueHandle<HKEY, RegKeyTraits>;
using CModule = CUniqueHandle<HMODULE, ModuleTraits>;
using CFindHandle = CUniqueHandle<HANDLE, FindHandleTraits>;
using CCryptContext = CUniqueHandle<HCRYPTPROV, CryptProvTraits>;
using CCryptHash = CUniqueHandle<HCRYPTHASH, CryptHashTraits>;
using CCryptKey = CUniqueHandle<HCRYPTKEY, CryptKeyTraits>;
using CCertStore = CUniqueHandle<HCERTSTORE, CertStoreTraits>;
using CCryptMsg = CUniqueHandle<HCRYPTMSG, CryptMsgTraits>;
using CCertContext = CUniqueHandle<PCCERT_CONTEXT, CertContextTraits>;
