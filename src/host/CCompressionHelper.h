#pragma once
// The compression component (Brevik.dll, utilities folder): loaded by the first Instance() and freed when this
// library unloads. Either export may be missing; its call then gives null or does nothing.

#include "host/CLoader.h"
#include "host/ComponentExports.h"

#include <string>

class CCompressionHelper
{
public:
    static CCompressionHelper& Instance();

    // Loads Brevik.dll from folder (with or without its trailing backslash); an empty folder loads nothing.
    explicit CCompressionHelper(const std::wstring& folder);
    ~CCompressionHelper();
    CCompressionHelper(const CCompressionHelper&) = delete;
    CCompressionHelper& operator=(const CCompressionHelper&) = delete;

    [[nodiscard]] bool HasGetCompression() const { return m_getCompression != nullptr; }
    [[nodiscard]] bool HasFreeCompression() const { return m_freeCompression != nullptr; }

    // kind is kArchiveZip or kArchiveRar. Null when the export is missing or the component has none.
    IDecompressor* GetCompression(DWORD kind) const;
    void FreeCompression(DWORD kind, IDecompressor** decompressor) const;

private:
    CComponentLibrary m_library;
    GetCompressionFn m_getCompression = nullptr;
    FreeCompressionFn m_freeCompression = nullptr;
};
