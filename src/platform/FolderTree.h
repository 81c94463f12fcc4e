#pragma once
// Folders with everything below them.

#include "platform/Win.h"

#include <string>

// Makes folder and any missing parents (with or without a trailing backslash). ERROR_SUCCESS also when it
// exists already, else the Windows error.
[[nodiscard]] DWORD MakeFolderTree(const std::wstring& folder);

// Removes folder and everything in it, read-only files included; true when it is gone (also when it never
// was). A link inside is removed as a link: what it points to is left alone.
bool RemoveTree(const std::wstring& folder);
