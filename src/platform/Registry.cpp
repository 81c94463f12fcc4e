#include "platform/Registry.h"

#include "platform/CUniqueHandle.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace
{
// A value that keeps growing between the size query and the read is given up on after this many rounds.
constexpr int kReadAttempts = 4;

bool IsText(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

// [text, text + size bytes) up to its first NUL; a trailing odd byte is not a character.
void AssignText(const wchar_t* text, DWORD size, std::size_t capacity, std::wstring& out)
{
    const wchar_t* end = text + std::min<std::size_t>(size / sizeof(wchar_t), capacity);
    out.assign(text, std::find(text, end, L'\0'));
}

LONG QueryText(HKEY key, const wchar_t* name, std::wstring& out)
{
    // Most values fit a small buffer: read at once, without asking for the size first (each call is a
    // round trip to the registry).
    wchar_t small[128];
    DWORD type = 0;
    DWORD size = sizeof(small);
    LONG status = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(small), &size);
    if (status == ERROR_SUCCESS)
    {
        if (!IsText(type))
            return ERROR_UNSUPPORTED_TYPE;
        AssignText(small, size, std::size(small), out);
        return ERROR_SUCCESS;
    }
    if (status == ERROR_MORE_DATA) // size now says how much
        status = ERROR_SUCCESS;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt)
    {
        if (status != ERROR_SUCCESS)
            return status;
        if (!IsText(type))
            return ERROR_UNSUPPORTED_TYPE;
        // Whole UTF-16 units that cover every stored byte, and one more: RegQueryValueExW does not promise a
        // terminator, and an odd byte count must not write past the buffer.
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (status == ERROR_MORE_DATA) // grew meanwhile: size now says how much
        {
            status = ERROR_SUCCESS;
            continue;
        }
        if (status != ERROR_SUCCESS)
            return status;
        if (!IsText(type))
            return ERROR_UNSUPPORTED_TYPE;
        AssignText(buffer.data(), size, buffer.size(), out);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

LONG QueryDword(HKEY key, const wchar_t* name, DWORD& out)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG status = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if ((status == ERROR_SUCCESS || status == ERROR_MORE_DATA) && type != REG_DWORD)
        return ERROR_UNSUPPORTED_TYPE;
    if (status != ERROR_SUCCESS)
        return status;
    if (size != sizeof value)
        return ERROR_INVALID_DATA;
    out = value;
    return ERROR_SUCCESS;
}
} // namespace

LONG ReadRegistryText(HKEY root, const wchar_t* subkey, const wchar_t* name, std::wstring& out, REGSAM access)
{
    return CRegistryKey(subkey, root, access).Text(name, out);
}

LONG ReadRegistryDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD& out, REGSAM access)
{
    return CRegistryKey(subkey, root, access).Dword(name, out);
}

LONG ProbeRegistryKey(HKEY root, const wchar_t* subkey, REGSAM access)
{
    CRegKey key;
    return ::RegOpenKeyExW(root, subkey, 0, access, key.Put());
}

LONG WriteRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type, const void* data, DWORD size,
                        REGSAM access)
{
    CRegKey key;
    if (const LONG status = ::RegCreateKeyExW(root, subkey, 0, nullptr, 0, access, nullptr, key.Put(), nullptr);
        status != ERROR_SUCCESS)
        return status;
    return ::RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG WriteRegistryText(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& value, REGSAM access)
{
    return WriteRegistryValue(root, subkey, name, REG_SZ, value.c_str(),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), access);
}

LONG DeleteRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* name, REGSAM access)
{
    CRegKey key;
    if (const LONG status = ::RegOpenKeyExW(root, subkey, 0, access, key.Put()); status != ERROR_SUCCESS)
        return status;
    return ::RegDeleteValueW(key.Get(), name);
}

CRegistryKey::CRegistryKey(const wchar_t* subkey, HKEY root, REGSAM access)
    : m_status(::RegOpenKeyExW(root, subkey, 0, access, m_key.Put()))
{}

LONG CRegistryKey::Text(const wchar_t* name, std::wstring& out) const
{
    return m_key ? QueryText(m_key.Get(), name, out) : m_status;
}

LONG CRegistryKey::Dword(const wchar_t* name, DWORD& out) const
{
    return m_key ? QueryDword(m_key.Get(), name, out) : m_status;
}

CHeldRegistryKey::CHeldRegistryKey(const wchar_t* subkey, HKEY root, REGSAM access)
    : m_subkey(subkey), m_root(root), m_access(access)
{}

template <typename Query>
LONG CHeldRegistryKey::Read(Query query)
{
    std::shared_ptr<const CRegKey> key;
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        key = m_key;
    }
    if (key)
    {
        const LONG status = query(key->Get());
        if (status != ERROR_KEY_DELETED)
            return status;
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_key == key)
            m_key.reset();
    }
    auto opened = std::make_shared<CRegKey>();
    if (const LONG status = ::RegOpenKeyExW(m_root, m_subkey, 0, m_access, opened->Put()); status != ERROR_SUCCESS)
        return status;
    {
        // Another reader may have opened it meanwhile: either handle serves, the one kept is the newer.
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_key = opened;
    }
    return query(opened->Get());
}

LONG CHeldRegistryKey::Text(const wchar_t* name, std::wstring& out)
{
    return Read([&](HKEY key) { return QueryText(key, name, out); });
}

LONG CHeldRegistryKey::Dword(const wchar_t* name, DWORD& out)
{
    return Read([&](HKEY key) { return QueryDword(key, name, out); });
}
