#pragma once
// Runs a program of this build as a child process and collects what it writes to stdout and stderr.

#include "platform/Win.h"

#include <string>

struct ChildResult
{
    DWORD error = ERROR_SUCCESS;   // why it could not be run or waited for; then the rest says nothing
    DWORD exitCode = 0;
    std::string output;            // stdout and stderr, interleaved as written
};

// commandLine starts with the program's full path, quoted when needed. The child is ended after timeoutMs.
ChildResult RunChild(const std::wstring& commandLine, DWORD timeoutMs = 60000);
