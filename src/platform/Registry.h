#pragma once
// Registry values, in the manner of Chromium's base/win/registry.h. Every call returns the Windows error
// (ERROR_SUCCESS, or what the registry call said) and leaves its output untouched on failure. root is a
// predefined key (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, ...); access is the access to open subkey with
// (KEY_QUERY_VALUE for reads, KEY_SET_VALUE for writes), optionally with KEY_WOW64_64KEY or KEY_WOW64_32KEY.

#include "platform/CUniqueHandle.h"
#include "platform/Win.h"

#include <memory>
#include <mutex>
#include <string>

// REG_SZ or REG_EXPAND_SZ (not expanded); ERROR_UNSUPPORTED_TYPE for any other type. The text ends at its first
// NUL or where the stored bytes end, whichever comes first; a trailing odd byte is not a character.
[[nodiscard]] LONG ReadRegistryText(HKEY root, const wchar_t* subkey, const wchar_t* name, std::wstring& out,
                                    REGSAM access = KEY_QUERY_VALUE);
// REG_DWORD only: ERROR_UNSUPPORTED_TYPE for any other type, ERROR_INVALID_DATA when it does not hold 4 bytes.
[[nodiscard]] LONG ReadRegistryDword(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD& out,
                                     REGSAM access = KEY_QUERY_VALUE);
// One key opened for reading, so that several of its values cost one open. Reads follow the rules above; when
// the key could not be opened, each read returns why.
class CRegistryKey
{
public:
    explicit CRegistryKey(const wchar_t* subkey, HKEY root = HKEY_LOCAL_MACHINE, REGSAM access = KEY_QUERY_VALUE);

    [[nodiscard]] LONG Text(const wchar_t* name, std::wstring& out) const;
    [[nodiscard]] LONG Dword(const wchar_t* name, DWORD& out) const;

private:
    CRegKey m_key;
    LONG m_status;
};
// A key read again and again (on every event, say), kept open between reads: under Wine each open and each close
// is a round trip to the registry, as costly as the read itself. Every read still asks the registry for the value
// as it is now. A key that could not be opened is tried again on the next read; a key deleted since it was
// opened (ERROR_KEY_DELETED) is given up and the key that has its name now is opened and read instead. Safe on
// any thread; subkey must outlive the object (a literal, as a rule).
class CHeldRegistryKey
{
public:
    explicit CHeldRegistryKey(const wchar_t* subkey, HKEY root = HKEY_LOCAL_MACHINE, REGSAM access = KEY_QUERY_VALUE);

    [[nodiscard]] LONG Text(const wchar_t* name, std::wstring& out);
    [[nodiscard]] LONG Dword(const wchar_t* name, DWORD& out);

private:
    template <typename Query>
    LONG Read(Query query);

    const wchar_t* m_subkey;
    HKEY m_root;
    REGSAM m_access;
    std::mutex m_mutex;
    std::shared_ptr<const CRegKey> m_key;   // null until opened; a reader keeps its copy while it reads
};
// ERROR_SUCCESS when subkey opens with access.
[[nodiscard]] LONG ProbeRegistryKey(HKEY root, const wchar_t* subkey, REGSAM access = KEY_QUERY_VALUE);

// Creates subkey when missing and stores the value as given.
[[nodiscard]] LONG WriteRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                                      const void* data, DWORD size, REGSAM access = KEY_SET_VALUE);
// A REG_SZ with its terminator.
[[nodiscard]] LONG WriteRegistryText(HKEY root, const wchar_t* subkey, const wchar_t* name, const std::wstring& value,
                                     REGSAM access = KEY_SET_VALUE);
[[nodiscard]] LONG DeleteRegistryValue(HKEY root, const wchar_t* subkey, const wchar_t* name,
                                       REGSAM access = KEY_SET_VALUE);
