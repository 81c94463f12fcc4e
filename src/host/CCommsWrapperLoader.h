#pragma once
// The communications component (Quillon.dll, or QuillonLC.dll before Windows 8.1), shared by every user: the
// first successful Load() loads it from the folder given (the utilities folder), the last Unload() frees it.
// Getting and freeing hold the component mutex across the call into the component. An instance that holds
// no use gets null and frees nothing.

#include "host/ICommsWrapper.h"

#include <string>

// The library for an operating system code; unknown and earlier versions get the legacy library.
const wchar_t* CommsLibraryName(DWORD osCode);

class CCommsWrapperLoader
{
public:
    explicit CCommsWrapperLoader(const std::wstring& folder);
    // Releases this instance's use, if it holds one.
    ~CCommsWrapperLoader();
    CCommsWrapperLoader(const CCommsWrapperLoader&) = delete;
    CCommsWrapperLoader& operator=(const CCommsWrapperLoader&) = delete;

    // Takes one use of the shared library; loading it when no instance holds one. Repeated calls hold one use.
    [[nodiscard]] bool Load();
    void Unload();

    // Null without a use, the export or an interface.
    ICommsWrapper* GetCommsWrapper();
    // Clears *wrapper through the component; nothing happens for null or without a use.
    void FreeCommsWrapper(ICommsWrapper** wrapper);

private:
    std::wstring m_folder;
    bool m_holdsUse = false;
};
