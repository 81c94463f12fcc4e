#pragma once
// Folder names.

#include <string>

// folder with a trailing backslash, unless it is empty.
std::wstring WithTrailingBackslash(const std::wstring& folder);

// The drive part of path as _wsplitpath_s gives it ("C:"), empty for a path without one.
std::wstring DrivePart(const std::wstring& path);

// A character that Windows refuses in a file name: a control character or one of \ / : * ? " < > |.
[[nodiscard]] bool IsRefusedInFileName(wchar_t c);
// A name that stays inside the folder it is put in: not empty, not "." or "..", no refused character.
[[nodiscard]] bool IsPlainFileName(const std::wstring& name);
