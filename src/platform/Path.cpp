#include "platform/Path.h"

#include <cstdlib>

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
