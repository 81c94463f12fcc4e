#pragma once
// This program's command line as its arguments, split as CommandLineToArgvW splits it: the reverse of
// AppendCommandLineArgument (TextUtil.h). For the development agent's programs; the product reads none.

#include <string>
#include <vector>

// The program's name first. False, arguments untouched, when the line cannot be split (GetLastError tells why).
[[nodiscard]] bool ReadCommandLine(std::vector<std::wstring>& arguments);
