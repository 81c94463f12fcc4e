#pragma once
// A trace session inside this process. Wine never enables a trace provider, so before the plug-in is
// loaded the host puts its own code in place of the system's trace functions: the provider's registration
// then enables it at the session's level and flags, and every message it sends is decoded with the build's
// table (trace-messages.tsv) and printed as a line. A development tool only: the product never does this.

#include "platform/Win.h"

#include <cstdio>
#include <string>

namespace devagent
{

// False, with the reason on stderr, when the table cannot be read or a function cannot be replaced.
bool StartTraceSession(UCHAR level, ULONG flags, const std::wstring& tablePath, std::FILE* out);

} // namespace devagent
