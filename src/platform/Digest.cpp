#include "platform/Digest.h"

#include "platform/CUniqueHandle.h"
#include "platform/Encoding.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>

namespace
{

struct Algorithm
{
    std::size_t slot;   // of its provider's context in CSharedProviders
    DWORD provider;
    ALG_ID id;
};

constexpr Algorithm kMd5{0, PROV_RSA_FULL, CALG_MD5};
constexpr Algorithm kSha256{1, PROV_RSA_AES, CALG_SHA_256};
constexpr std::size_t kProviders = 2;
constexpr DWORD kLargestDigest = 32;
// Large reads make a file in the system's cache hash as fast as the same bytes in memory (with 4 KiB reads MD5
// took a third longer under Wine); the block still stays in the processor's cache. With the sequential-scan hint the
// cache manager reads a cold file ahead of the hash, so reading and hashing overlap without a thread of ours.
constexpr DWORD kFileBlock = 256 * 1024;

// The providers' contexts, acquired by the first digest that needs one while users hold them and released by
// the last user. Every digest is a user for its own duration; CDigestProviders extends that over a run of them.
// A context serves any thread; each digest has a hash object of its own.
class CSharedProviders
{
public:
    // The process may end with users left (a thread stopped in a digest): a provider loaded after this module
    // may be detached by then, so nothing is released.
    ~CSharedProviders()
    {
        for (CCryptContext& context : m_contexts)
            static_cast<void>(context.Release());
    }

    void Enter()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        ++m_users;
    }

    void Leave()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (--m_users == 0)
            for (CCryptContext& context : m_contexts)
                context.Reset();
    }

    // Null when the provider cannot be had.
    HCRYPTPROV Context(const Algorithm& algorithm)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        CCryptContext& context = m_contexts[algorithm.slot];
        HCRYPTPROV acquired = 0;
        if (!context && ::CryptAcquireContextW(&acquired, nullptr, nullptr, algorithm.provider, CRYPT_VERIFYCONTEXT))
            context.Reset(acquired);
        return context.Get();
    }

private:
    std::mutex m_mutex;
    unsigned m_users = 0;
    CCryptContext m_contexts[kProviders];
};

// At namespace scope, not a function-local static (host/ModuleComponents.h says why).
CSharedProviders g_providers;

// One digest in progress; the hash is destroyed however it ends, before its context can go.
class CDigest
{
public:
    explicit CDigest(const Algorithm& algorithm)
    {
        if (const HCRYPTPROV context = g_providers.Context(algorithm))
            ::CryptCreateHash(context, algorithm.id, 0, 0, m_hash.Put());
    }

    bool IsReady() const { return m_hash.IsValid(); }

    bool Feed(const BYTE* data, std::size_t length)
    {
        // CryptHashData takes a DWORD count; larger blocks go in pieces.
        while (length > 0)
        {
            const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(length, 0x80000000u));
            if (!::CryptHashData(m_hash.Get(), data, piece, 0))
                return false;
            data += piece;
            length -= piece;
        }
        return true;
    }

    bool Finish(std::wstring& hex)
    {
        BYTE value[kLargestDigest];
        DWORD size = sizeof(value);
        if (!::CryptGetHashParam(m_hash.Get(), HP_HASHVAL, value, &size, 0))
            return false;
        char text[2 * kLargestDigest + 1];
        DWORD capacity = sizeof(text);
        std::wstring wide;
        if (!HexEncode(value, size, text, &capacity) || !BytesToWide(std::string(text, capacity), wide, ::GetACP()))
            return false;
        hex = std::move(wide);
        return true;
    }

private:
    const CDigestProviders m_providers;   // declared first: it outlives the hash
    CCryptHash m_hash;
};

DWORD HexOfBuffer(const Algorithm& algorithm, const void* data, std::size_t length, std::wstring& hex)
{
    if (data == nullptr || length == 0)
        return ERROR_INVALID_PARAMETER;
    CDigest digest(algorithm);
    if (!digest.IsReady() || !digest.Feed(static_cast<const BYTE*>(data), length) || !digest.Finish(hex))
        return ERROR_BAD_FORMAT;
    return ERROR_SUCCESS;
}

DWORD HexOfFile(const Algorithm& algorithm, const wchar_t* path, std::wstring& hex)
{
    if (path == nullptr || *path == L'\0')
        return ERROR_INVALID_PARAMETER;
    CFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        return ERROR_FILE_NOT_FOUND;
    CDigest digest(algorithm);
    const std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[kFileBlock]);
    if (!digest.IsReady() || !block)
        return ERROR_FILE_NOT_FOUND;
    for (;;)
    {
        DWORD read = 0;
        if (!::ReadFile(file.Get(), block.get(), kFileBlock, &read, nullptr))
            return ERROR_FILE_NOT_FOUND;
        if (read == 0)
            break;
        if (!digest.Feed(block.get(), read))
            return ERROR_FILE_NOT_FOUND;
    }
    return digest.Finish(hex) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

} // namespace

CDigestProviders::CDigestProviders()
{
    g_providers.Enter();
}

CDigestProviders::~CDigestProviders()
{
    g_providers.Leave();
}

DWORD Md5HexOfBuffer(const void* data, std::size_t length, std::wstring& hex)
{
    return HexOfBuffer(kMd5, data, length, hex);
}

DWORD Md5HexOfString(const wchar_t* text, std::wstring& hex)
{
    if (text == nullptr)
        return ERROR_INVALID_PARAMETER;
    return HexOfBuffer(kMd5, text, std::wcslen(text) * sizeof(wchar_t), hex);
}

DWORD Md5HexOfFile(const wchar_t* path, std::wstring& hex)
{
    return HexOfFile(kMd5, path, hex);
}

bool Md5OfFileMatches(const std::wstring& path, const std::wstring& expected)
{
    std::wstring hex;
    return Md5HexOfFile(path.c_str(), hex) == ERROR_SUCCESS && EqualsIgnoringCase(hex, expected);
}

DWORD Sha256HexOfBuffer(const void* data, std::size_t length, std::wstring& hex)
{
    return HexOfBuffer(kSha256, data, length, hex);
}

DWORD Sha256HexOfFile(const wchar_t* path, std::wstring& hex)
{
    return HexOfFile(kSha256, path, hex);
}
