#pragma once
// Folder names.

#include <string>

// folder with a trailing backslash, unless it is empty.
std::wstring WithTrailingBackslash(const std::wstring& folder);

// The drive part of path as _wsplitpath_s gives it ("C:"), empty for a path without one.
std::wstring DrivePart(const std::wstring& path);

// A character that Windows refuses in a file name: a control character or one of \ / : * ? " < > |.
[[nodiscard]] bool IsRefusedInFileName(wchar_t c);
// A name that Windows takes for a device, not a file: CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM1 to COM9 and
// LPT1 to LPT9 (also with the superscript digits 1 to 3), in any case, with or without an extension, with
// trailing dots or blanks ("nul.txt", "Com1 .log", "CON...").
[[nodiscard]] bool IsReservedDeviceName(const std::wstring& name);
// A name that stays inside the folder it is put in and names a file there: not empty, not made of dots and
// blanks alone ("." and ".." among them), no refused character, no device name.
[[nodiscard]] bool IsPlainFileName(const std::wstring& name);
// A path below the folder it is put in: one or more plain file names joined by "\" or "/". Refuses what is
// absolute, names a drive, is UNC or "\\?\", has an empty, "." or ".." segment.
[[nodiscard]] bool IsPlainRelativePath(const std::wstring& path);
