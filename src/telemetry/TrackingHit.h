#pragma once
// What a tracking hit tells about the agent and its machine besides the file's own pairs. Every value is
// read again for each hit.

#include "host/IComponentAccess.h"
#include "host/IConfigUtil.h"
#include "platform/COperatingSystem.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

using TrackingParameters = std::vector<std::pair<std::wstring, std::wstring>>;

// The seven identity strings in SetIdentity's order: main product identifier, its version, "0", machine
// identifier, "0", "1", agent version. A registry value that cannot be read gives "0".
std::array<std::wstring, 7> TrackingIdentity();

// The environment parameters in the order they are sent: "_oi", "_ob", "_or", "_si", "_di", "_ei", "_lt",
// "_p", "_os", "_po", then "_reg" when the region can be read and is not empty.
TrackingParameters EnvironmentParameters(IConfigUtil* util, const OperatingSystemInfo& os, bool portable);

// A text as it may stand in a URL's query: UTF-8, percent-encoded except the RFC 3986 unreserved characters,
// so that a track index cannot add parameters or end the query. Empty when the text cannot be converted.
std::wstring EncodeQueryValue(const std::wstring& text);

// The portable flag of the system information component; false when the component, its interface or its
// description cannot be had.
[[nodiscard]] bool ReadPortableFlag(IComponentAccess& components);
