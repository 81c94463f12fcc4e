#include "platform/FolderTree.h"

#include "platform/CUniqueHandle.h"

#include <shlobj.h>

#include <cwchar>

namespace
{
bool Gone(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}
} // namespace

DWORD MakeFolderTree(const std::wstring& folder)
{
    // SHCreateDirectoryExW wants a full path without a trailing backslash; a relative one is made absolute.
    std::wstring path = folder;
    while (path.size() > 1 && path.back() == L'\\')
        path.pop_back();
    wchar_t full[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH)
        return length == 0 ? ::GetLastError() : ERROR_FILENAME_EXCED_RANGE;
    const int made = ::SHCreateDirectoryExW(nullptr, full, nullptr);
    if (made == ERROR_ALREADY_EXISTS || made == ERROR_FILE_EXISTS)
        return (::GetFileAttributesW(full) & FILE_ATTRIBUTE_DIRECTORY) != 0 ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS;
    return static_cast<DWORD>(made);
}

bool RemoveTree(const std::wstring& folder)
{
    std::wstring base = folder;
    while (!base.empty() && base.back() == L'\\')
        base.pop_back();
    if (base.empty())
        return false;
    const DWORD attributes = ::GetFileAttributesW(base.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;
    // A junction or folder link is never entered: removing it must not reach the folder it names.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
    {
        WIN32_FIND_DATAW found;
        CFindHandle find(::FindFirstFileW((base + L"\\*").c_str(), &found));
        if (find)
        {
            do
            {
                if (std::wcscmp(found.cFileName, L".") == 0 || std::wcscmp(found.cFileName, L"..") == 0)
                    continue;
                const std::wstring path = base + L"\\" + found.cFileName;
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                {
                    RemoveTree(path);
                    continue;
                }
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
                    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                ::DeleteFileW(path.c_str());
            } while (::FindNextFileW(find.Get(), &found));
        }
    }
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0)
        ::SetFileAttributesW(base.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    return ::RemoveDirectoryW(base.c_str()) != FALSE || Gone(base);
}
