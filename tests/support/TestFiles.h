#pragma once
// Whole files as bytes, for tests that write inputs and read back what the code under test wrote.

#include "JsonEscaped.h"

#include "platform/Files.h"

#include <gtest/gtest.h>

#include <string>

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
