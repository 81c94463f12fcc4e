#pragma once
// Folder names.

#include <string>

// folder with a trailing backslash, unless it is empty.
std::wstring WithTrailingBackslash(const std::wstring& folder);

// The drive part of path as _wsplitpath_s gives it ("C:"), empty for a path without one.
std::wstring DrivePart(const std::wstring& path);
