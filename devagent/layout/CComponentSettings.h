#pragma once
// The keys that a stand-in component reads from the install's "config.json" beside its library (its fault
// switches and the like). The file is parsed again only when its size or last write time changed, so that a
// test may switch a key between two calls without every call parsing the whole file. A missing, unreadable
// or malformed file holds no keys. Thread-safe; nothing throws but std::bad_alloc.

#include "message/CMessageObject.h"
#include "platform/Win.h"

#include <cstdint>
#include <mutex>
#include <string>

// A setting's value as a number: a number as it is (0 when negative), true and "true" as 1, a text by its
// leading decimal digits; 0 for any other type. How every stand-in reads its switches and counts.
std::uint64_t SettingNumber(const CMessageItem& item);

class CComponentSettings
{
public:
    // For "config.json" in the folder of the library this is linked into.
    CComponentSettings();

    // The value of key as SettingNumber reads it; 0 when absent.
    std::uint64_t Number(const wchar_t* key);

private:
    // Under m_mutex, with what the file system said of the file (null: it is not there or cannot be seen).
    void Refresh(const WIN32_FILE_ATTRIBUTE_DATA* data);

    std::mutex m_mutex;
    const std::wstring m_path; // empty when the library's folder is unknown: no keys
    CMessageObject m_values;
    bool m_read = false; // m_values stand for the file of m_stamp and m_size
    FILETIME m_stamp{};
    std::uint64_t m_size = 0;
};
