#include "platform/Files.h"

#include "platform/CUniqueHandle.h"

#include <exception>

namespace
{
constexpr ULONGLONG kMaxBytes = 0xFFFFFFFFull;

CFileHandle CreateForWriting(const std::wstring& path, unsigned flags)
{
    const bool append = (flags & kFileAppend) != 0;
    const DWORD disposition = append ? OPEN_ALWAYS : (flags & kFileNew) != 0 ? CREATE_NEW : CREATE_ALWAYS;
    return CFileHandle(::CreateFileW(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                                     nullptr));
}

DWORD WriteAll(HANDLE file, const std::string& bytes)
{
    DWORD written = 0;
    if (!bytes.empty() && !::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return ::GetLastError();
    return written == bytes.size() ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}
} // namespace

DWORD ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD share)
{
    const CFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return ::GetLastError();
    return ReadWholeOpenFile(file.Get(), bytes);
}

DWORD ReadWholeOpenFile(HANDLE file, std::string& bytes)
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size))
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
        if (!::ReadFile(file, &content[0], static_cast<DWORD>(content.size()), &read, nullptr))
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
    const CFileHandle file = CreateForWriting(path, flags);
    if (!file)
        return ::GetLastError();
    if (const DWORD error = WriteAll(file.Get(), bytes); error != ERROR_SUCCESS)
        return error;
    if ((flags & kFileFlush) != 0 && !::FlushFileBuffers(file.Get()))
        return ::GetLastError();
    return ERROR_SUCCESS;
}

DWORD COwnedFile::Write(const std::wstring& path, const std::string& bytes)
{
    if (const DWORD error = Remove(); error != ERROR_SUCCESS)
        return error;
    if (bytes.size() > kMaxBytes)
        return ERROR_FILE_TOO_LARGE;
    CFileHandle file = CreateForWriting(path, kFileReplace);
    if (!file)
        return ::GetLastError();
    m_path = path;
    const DWORD error = WriteAll(file.Get(), bytes);
    if (error != ERROR_SUCCESS)
    {
        file.Reset(); // closed first: a file still open is only marked for deletion
        static_cast<void>(Remove());
    }
    return error;
}

DWORD COwnedFile::Remove()
{
    if (m_path.empty())
        return ERROR_SUCCESS;
    if (!::DeleteFileW(m_path.c_str()))
    {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND)
            return error;
    }
    m_path.clear();
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
