#pragma once
// Whole files as bytes, for tests that write inputs and read back what the code under test wrote.

#include "platform/Files.h"

#include <string>

// Empty when the file cannot be read.
inline std::string ReadBytes(const std::wstring& path)
{
    std::string bytes;
    ReadWholeFile(path, bytes, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    return bytes;
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    WriteWholeFile(path, bytes);
}

inline bool Exists(const std::wstring& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
