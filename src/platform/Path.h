#pragma once
// Folder names.

#include <string>

// folder with a trailing backslash, unless it is empty.
std::wstring WithTrailingBackslash(const std::wstring& folder);
