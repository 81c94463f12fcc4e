#include "platform/Path.h"

std::wstring WithTrailingBackslash(const std::wstring& folder)
{
    if (folder.empty() || folder.back() == L'\\')
        return folder;
    return folder + L'\\';
}
