#include "platform/Files.h"

#include "platform/CUniqueHandle.h"

#include <exception>

namespace
{
constexpr ULONGLONG kMaxBytes = 0xFFFFFFFFull;
} // namespace

DWORD ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD share)
{
    CFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return ::GetLastError();
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size))
        return ::GetLastError();
    if (static_cast<ULONGLONG>(size.QuadPart) > kMaxBytes)
        return ERROR_FILE_TOO_LARGE;
    std::string content;
    try
    {
        content.resize(static_cast<size_t>(size.QuadPart));
    }
    catch (const std::exception&) // bad_alloc, or length_error beyond what a string can hold
    {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    DWORD read = 0;
    if (!content.empty())
    {
        if (!::ReadFile(file.Get(), &content[0], static_cast<DWORD>(content.size()), &read, nullptr))
            return ::GetLastError();
        if (read != content.size())
            return ERROR_READ_FAULT;
    }
    bytes.swap(content);
    return ERROR_SUCCESS;
}

DWORD WriteWholeFile(const std::wstring& path, const std::string& bytes, unsigned flags)
{
    if (bytes.size() > kMaxBytes)
        return ERROR_FILE_TOO_LARGE;
    const bool append = (flags & kFileAppend) != 0;
    const DWORD disposition = append ? OPEN_ALWAYS : (flags & kFileNew) != 0 ? CREATE_NEW : CREATE_ALWAYS;
    CFileHandle file(::CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
    if (!file)
        return ::GetLastError();
    DWORD written = 0;
    if (!bytes.empty() && !::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return ::GetLastError();
    if (written != bytes.size())
        return ERROR_WRITE_FAULT;
    if ((flags & kFileFlush) != 0 && !::FlushFileBuffers(file.Get()))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
