#pragma once
// Settings of the development agent's stand-ins: keys at the top level of "config.json" beside the library,
// else in the install's "Utils" folder, read again on every call (tests switch them between calls). A file
// that is missing or not JSON holds no settings.

#include "message/CMessageObject.h"

#include <cstdint>
#include <string>

namespace standin
{

CMessageObject ReadConfig();
// On when SettingNumber (CComponentSettings.h) reads the value as non-zero.
bool IsOn(const CMessageObject& config, const wchar_t* key);
std::uint32_t UIntOr(const CMessageObject& config, const wchar_t* key, std::uint32_t fallback);

} // namespace standin
