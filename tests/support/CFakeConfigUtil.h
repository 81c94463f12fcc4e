#pragma once
// An in-memory configuration utility: a map of dotted keys to values, counting the calls that reach it and
// checking that every value handed out by QueryValue comes back through ReleaseValue.

#include "host/IConfigUtil.h"

#include <map>
#include <mutex>
#include <string>

class CFakeConfigUtil : public CConfigUtilBase
{
public:
    void Set(const std::wstring& key, const std::wstring& value);
    int Calls() const;
    int Outstanding() const;   // QueryValue results not yet released

    DWORD QueryValue(const wchar_t* key, wchar_t** value, DWORD flags) override;
    DWORD GetValue(const wchar_t* key, std::wstring& value, DWORD flags) override;
    DWORD QuerySectionValue(const wchar_t* section, const wchar_t* group, const wchar_t* key, wchar_t* buffer,
                            DWORD* size, DWORD flags) override;
    DWORD SetValue(const wchar_t* key, const wchar_t* value, DWORD flags) override;
    DWORD RemoveValue(const wchar_t* key) override;
    void ReleaseValue(wchar_t** value) override;

private:
    mutable std::mutex m_mutex;
    std::map<std::wstring, std::wstring> m_values;
    int m_calls = 0;
    int m_outstanding = 0;
};
