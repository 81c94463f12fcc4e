#pragma once
// Whole files as bytes. Both return ERROR_SUCCESS or the Windows error; on failure the output is left as it was.

#include "platform/Win.h"

#include <string>

// The whole file in one read, opened for reading with the given sharing, existing files only.
// ERROR_FILE_TOO_LARGE beyond 4 GiB - 1 (one read takes a 32-bit count), ERROR_NOT_ENOUGH_MEMORY when it
// cannot be held, ERROR_READ_FAULT when fewer bytes arrive than the file's size.
[[nodiscard]] DWORD ReadWholeFile(const std::wstring& path, std::string& bytes, DWORD share = FILE_SHARE_READ);
// The same from a file opened for reading and not read yet. A name of its own: a wchar_t* path would convert to a
// HANDLE before it converted to a std::wstring.
[[nodiscard]] DWORD ReadWholeOpenFile(HANDLE file, std::string& bytes);

enum FileWriteFlags : unsigned
{
    kFileReplace = 0, // create, or empty what is there
    kFileAppend = 1,  // add at the end, creating the file when missing; appenders never overwrite each other
    kFileFlush = 2,   // on the disk before the call returns
    // Create, failing with ERROR_FILE_EXISTS when the file is there. Unlike kFileReplace it never empties a
    // file, which under Wine (an ftruncate) makes ext4 give the data its blocks at once on close.
    kFileNew = 4,
};

// The whole buffer in one write, sharing read and write access, or a failure (ERROR_WRITE_FAULT for a short
// write, ERROR_FILE_TOO_LARGE beyond 4 GiB - 1).
[[nodiscard]] DWORD WriteWholeFile(const std::wstring& path, const std::string& bytes, unsigned flags = kFileReplace);

// A file written whole for another program to read, deleted again by Remove or when its owner goes. Write
// creates it (replacing a file of the same name) sharing read and write access, and writes it in one write; a
// write that fails once the file was created deletes it again, so that a failure leaves nothing behind.
class COwnedFile
{
public:
    COwnedFile() = default;
    ~COwnedFile() { static_cast<void>(Remove()); }
    COwnedFile(const COwnedFile&) = delete;
    COwnedFile& operator=(const COwnedFile&) = delete;

    // ERROR_SUCCESS or the Windows error; an owner that holds a file already removes it first.
    [[nodiscard]] DWORD Write(const std::wstring& path, const std::string& bytes);
    // ERROR_SUCCESS when the file is gone (or none is held); otherwise the error of the deletion, and the owner
    // tries again when it goes.
    [[nodiscard]] DWORD Remove();
    // The file held, empty when none.
    [[nodiscard]] const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

// Whether path names an existing file (not a folder), or an existing folder.
[[nodiscard]] bool IsFile(const std::wstring& path);
[[nodiscard]] bool IsFolder(const std::wstring& path);
