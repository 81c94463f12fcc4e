#pragma once
// A telemetry plug-in package made ready for one run, and removed again afterwards.

#include "platform/Win.h"

#include <string>

class ITelemetryPluginPackage
{
public:
    virtual ~ITelemetryPluginPackage() = default;
    // 0 with the full path of the plug-in's main file, and of the launcher when the package names one.
    [[nodiscard]] virtual DWORD Prepare(std::wstring& pluginPath, std::wstring& launcherPath) = 0;
    [[nodiscard]] virtual DWORD Cleanup() = 0;
};
