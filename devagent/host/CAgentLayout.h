#pragma once
// A development agent install: the folders the agent's installer makes, the stand-in components in their
// places and the agent's setup key.

#include <string>

namespace devagent
{

// Where the file-upload service's uploads arrive: "/" + its "PathPrefix" + "/" + its "Service" + "/".
constexpr char kUploadPathPrefix[] = "/data/telemetry-files/";

// Creates folder (with "Utils", "Plugins", "Additional files", "Repository") and copies the plug-in and
// the stand-ins from `from` (the folder holding this build's programs): Telemetry.dll to "Plugins",
// Tamsin.dll, Hollin.dll, Quillon.dll, QuillonLC.dll and Anvara.dll to "Utils", Ostrel.dll to the install
// folder; the repository network's Yarran.dll and Fenrik.dll to "Utils", Pelter.dll to "Plugins", Merrow.dll
// to "Repository". A configuration file of the stand-in (Utils\config.json) is written when there is none: a development
// identity, test mode 1, and the data services with "Service_TelemetryFileUpload" below kUploadPathPrefix of
// "Services.Defaults.Hostname" (which --server sets).
bool LayOutAgent(const std::wstring& folder, const std::wstring& from, std::wstring& error);

// The agent's setup key: "Path" and the identity values of a development agent; and the agent data folder's
// "Config" folder, which the installer makes.
bool RegisterAgent(const std::wstring& folder, std::wstring& error);

} // namespace devagent
