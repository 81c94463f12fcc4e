// The development agent's configuration component: "config.json" beside this library.

#include "CJsonConfigUtil.h"

#include <string>
#include <vector>

namespace
{

// This library's own folder, with its trailing backslash; empty when Windows cannot tell.
std::wstring OwnFolder()
{
    HMODULE self = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              reinterpret_cast<LPCWSTR>(&OwnFolder), &self))
        return {};
    std::vector<wchar_t> path(MAX_PATH);
    for (;;)
    {
        const DWORD length = ::GetModuleFileNameW(self, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return {};
        if (length < path.size())
        {
            std::wstring folder(path.data(), length);
            return folder.substr(0, folder.find_last_of(L'\\') + 1);
        }
        path.resize(path.size() * 2);   // truncated
    }
}

} // namespace

extern "C" __declspec(dllexport) IConfigUtil* GetUtil()
{
    static CJsonConfigUtil util(OwnFolder() + L"config.json");
    return &util;
}
