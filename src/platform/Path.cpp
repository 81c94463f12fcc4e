#include "platform/Path.h"

#include <cstdlib>
#include <string_view>

std::wstring WithTrailingBackslash(const std::wstring& folder)
{
    if (folder.empty() || folder.back() == L'\\')
        return folder;
    return folder + L'\\';
}

std::wstring DrivePart(const std::wstring& path)
{
    wchar_t drive[_MAX_DRIVE] = {};
    if (_wsplitpath_s(path.c_str(), drive, _MAX_DRIVE, nullptr, 0, nullptr, 0, nullptr, 0) != 0)
        return std::wstring();
    return drive;
}

bool IsRefusedInFileName(wchar_t c)
{
    return c < 0x20 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos;
}

bool IsPlainFileName(const std::wstring& name)
{
    if (name.empty() || name == L"." || name == L"..")
        return false;
    for (const wchar_t c : name)
        if (IsRefusedInFileName(c))
            return false;
    return true;
}
