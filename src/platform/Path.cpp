#include "platform/Path.h"

#include <cstdlib>
#include <cwchar>
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

bool IsReservedDeviceName(const std::wstring& name)
{
    // Windows looks at the text before the first dot, without the blanks that end it.
    std::wstring_view base = std::wstring_view(name).substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ')
        base.remove_suffix(1);
    const auto is = [&base](std::wstring_view device) {
        return base.size() == device.size() && ::_wcsnicmp(base.data(), device.data(), device.size()) == 0;
    };
    if (is(L"CON") || is(L"PRN") || is(L"AUX") || is(L"NUL") || is(L"CONIN$") || is(L"CONOUT$"))
        return true;
    if (base.size() != 4)
        return false;
    const wchar_t digit = base[3];
    const bool numbered = (digit >= L'1' && digit <= L'9') || digit == L'\u00b9' || digit == L'\u00b2' ||
                          digit == L'\u00b3';
    base.remove_suffix(1);
    return numbered && (is(L"COM") || is(L"LPT"));
}

bool IsPlainFileName(const std::wstring& name)
{
    // Windows drops the dots and blanks that end a name: one made of them alone names the folder or its parent.
    if (name.find_first_not_of(L". ") == std::wstring::npos)
        return false;
    for (const wchar_t c : name)
        if (IsRefusedInFileName(c))
            return false;
    return !IsReservedDeviceName(name);
}

bool IsPlainRelativePath(const std::wstring& path)
{
    std::size_t start = 0;
    for (;;)
    {
        const std::size_t end = path.find_first_of(L"\\/", start);
        if (!IsPlainFileName(path.substr(start, end - start)))
            return false;
        if (end == std::wstring::npos)
            return true;
        start = end + 1;
    }
}
