#pragma once
// Whole files as bytes, for tests that write inputs and read back what the code under test wrote.

#include "JsonEscaped.h"

#include "platform/CUniqueHandle.h"
#include "platform/Files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Empty when the file cannot be read.
inline std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    static_cast<void>(ReadWholeFile(path, bytes, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    return bytes;
}

// A test whose input cannot be written fails.
inline void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    const DWORD error = WriteWholeFile(path, bytes);
    if (error != ERROR_SUCCESS)
        ADD_FAILURE() << "cannot write the test's file: error " << error;
}

inline bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The files below folder, in any of its sub-folders, as paths relative to it; folders themselves are not listed.
inline std::vector<std::wstring> FilesBelow(const std::wstring& folder)
{
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW found{};
    const CFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
    for (bool more = static_cast<bool>(find); more; more = ::FindNextFileW(find.Get(), &found))
    {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            files.push_back(name);
        else if (name != L"." && name != L"..")
            for (const std::wstring& below : FilesBelow(folder + L"\\" + name))
                files.push_back(name + L"\\" + below);
    }
    return files;
}
