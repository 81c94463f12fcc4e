#include "platform/ModuleFolder.h"

#include "platform/Win.h"

#include <vector>

std::wstring ThisModuleFolder()
{
    // Any address inside this function names the module it was linked into.
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&ThisModuleFolder), &self))
        return {};
    std::vector<wchar_t> path(MAX_PATH);
    for (;;)
    {
        const DWORD length = ::GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size())
        {
            const std::wstring file(path.data(), length);
            return file.substr(0, file.find_last_of(L'\\') + 1);
        }
        path.resize(path.size() * 2);   // truncated: GetModuleFileNameW does not say by how much
    }
}
