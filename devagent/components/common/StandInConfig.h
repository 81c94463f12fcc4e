#pragma once
// Settings of the repository network's stand-ins: keys at the top level of "config.json" beside the library,
// else in the install's "Utils" folder, read again on every call (tests switch them between calls). A file that is missing or not JSON holds no
// settings.

#include "message/CMessageObject.h"

#include <cstdint>
#include <string>

namespace standin
{

CMessageObject ReadConfig();
// On when true, "true", or a non-zero number (or decimal text).
bool IsOn(const CMessageObject& config, const wchar_t* key);
std::uint32_t UIntOr(const CMessageObject& config, const wchar_t* key, std::uint32_t fallback);

// POSTs body (UTF-8 JSON) to http://address/request, where address is "host" (then port) or "host:port".
// The HTTP status, or 0 when no answer came.
int PostToRepository(const std::wstring& address, std::uint32_t port, const std::string& body);

} // namespace standin
