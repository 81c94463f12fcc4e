#pragma once
// agent-host's output: whole lines to stdout, one writer at a time, and the system's text for an error number.

#include "platform/Win.h"

#include <string>

void PrintLine(const std::wstring& text);
std::wstring Meaning(DWORD code);
