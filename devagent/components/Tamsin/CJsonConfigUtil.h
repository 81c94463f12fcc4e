#pragma once
// The development agent's configuration: one flat JSON object in a file, member names the dotted keys,
// values strings (other JSON values read as their JSON text, null as absent). The file is read on first use
// and again whenever it changed on disk, so that a test or a person may edit it. A missing file is an empty
// configuration; a file that does not parse reads as empty and is never overwritten.
//
// Writes go to a file beside it that then replaces it, so a crash leaves the old or the new file, never half.
// One mutex guards everything; no exception leaves an operation.

#include "host/IConfigUtil.h"

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

class CJsonConfigUtil final : public CConfigUtilBase
{
public:
    explicit CJsonConfigUtil(std::wstring path);

    // ERROR_FILE_NOT_FOUND for a missing key; *value is then null.
    DWORD QueryValue(const wchar_t* key, wchar_t** value, DWORD flags) override;
    DWORD GetValue(const wchar_t* key, std::wstring& value, DWORD flags) override;
    // On success *size receives the characters written, terminator included.
    DWORD QuerySectionValue(const wchar_t* section, const wchar_t* group, const wchar_t* key, wchar_t* buffer,
                            DWORD* size, DWORD flags) override;
    DWORD SetValue(const wchar_t* key, const wchar_t* value, DWORD flags) override;
    DWORD RemoveValue(const wchar_t* key) override;
    void ReleaseValue(wchar_t** value) override;

private:
    using Values = std::map<std::wstring, std::wstring>;

    // What the file system says of the file at one moment.
    struct FileState
    {
        DWORD error = ERROR_SUCCESS;
        WIN32_FILE_ATTRIBUTE_DATA data{};
    };
    FileState ReadState() const;

    bool Find(const wchar_t* key, std::wstring& value);   // takes m_mutex
    // Under m_mutex. Reloads when state says the file changed; an error when it could not be read, the values
    // then stay.
    DWORD Refresh(const FileState& state);
    DWORD Store(Values values);
    // Takes m_mutex: change is applied to a copy of the values, which is then stored; its error stops the edit.
    DWORD Edit(const std::function<DWORD(Values&)>& change);
    void RememberStamp();

    std::mutex m_mutex;
    const std::wstring m_path;
    Values m_values;
    bool m_loaded = false;
    bool m_writable = true;   // false while the file on disk does not parse
    FILETIME m_stamp{};
    std::uint64_t m_size = 0;
    bool m_present = false;
};
