#pragma once
// The keys that a stand-in component reads from the install's "config.json" (its fault switches, counts and
// the like): the file beside its library, else the one in the install's "Utils" folder (the configuration
// stand-in's). Asked on every call, so that a test may switch a key between two calls; the file is parsed again
// only when it changed (another file, size or last write time, or written too recently for its time to tell).
// A missing, unreadable or malformed file holds no keys. Thread-safe; nothing throws but std::bad_alloc.

#include "message/CMessageObject.h"
#include "platform/Win.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

// A setting's value as a number: a number as it is (0 when negative), true and "true" as 1, a text by its
// leading decimal digits; 0 for any other type. How every stand-in reads its switches and counts.
std::uint64_t SettingNumber(const CMessageItem& item);

class CComponentSettings
{
public:
    // For the library this is linked into.
    CComponentSettings();

    // The value of key as SettingNumber reads it; fallback when absent.
    std::uint64_t Number(const wchar_t* key, std::uint64_t fallback = 0);
    // On when the value is non-zero.
    bool IsOn(const wchar_t* key) { return Number(key) != 0; }
    // Every key, for values that are not numbers (a list of peers). Never null.
    std::shared_ptr<const CMessageObject> Values();

private:
    // Which file is there and what the file system says of it (path null: neither is there).
    struct FileSeen
    {
        const std::wstring* path = nullptr;
        WIN32_FILE_ATTRIBUTE_DATA data{};
    };

    // Looked at before the mutex is taken: callers on other threads wait for each other only while a key is
    // looked up or the file parsed again.
    FileSeen Look() const;
    // Under m_mutex: m_values made to stand for the file seen.
    void Refresh(const FileSeen& seen);

    std::mutex m_mutex;
    const std::wstring m_paths[2]; // beside the library, then in "Utils"; empty when the folder is unknown
    std::shared_ptr<const CMessageObject> m_values;
    const std::wstring* m_readPath = nullptr; // m_values stand for this file as of m_stamp and m_size
    FILETIME m_stamp{};
    std::uint64_t m_size = 0;
};
