#pragma once
// The compression component's extractor (Brevik.dll: "GetCompression" hands one out per archive kind,
// kArchiveZip or kArchiveRar; "FreeCompression" takes it back and clears the pointer).
//
// Shared by the plug-in and the stand-in component. Virtual tables and std::wstring are compiler-specific:
// the binary contract holds between modules built by this toolchain (GCC, mingw-w64), which share msvcrt's
// heap.

#include "platform/Win.h"

#include <string>
#include <vector>

class IDecompressor
{
public:
    virtual ~IDecompressor() = default;   // slot 0
    // Slot 1: extracts the archive into folder (made when missing), every entry at its relative path, and
    // replaces files with the full paths of the files written. 0 on success, else a Windows error number:
    // ERROR_FILE_NOT_FOUND without the archive, ERROR_BAD_PATHNAME when any entry would land outside folder
    // (absolute, drive, "..", link: then nothing is written), ERROR_INVALID_DATA for a damaged or truncated
    // archive (what was written is deleted again).
    [[nodiscard]] virtual DWORD Extract(const std::wstring& archive, const std::wstring& folder,
                                        std::vector<std::wstring>& files) = 0;
};
