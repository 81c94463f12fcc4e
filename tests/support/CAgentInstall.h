#pragma once
// A development agent install of the test's own: a fresh folder under the temporary folder with "Utils",
// "Plugins", "Additional files" and "Repository", and the agent's setup key with "Path" pointing at it.
// The destructor removes the folder and the setup key. Tests that use it share machine state: their ctest
// entry carries the agent_install resource lock.

#include "ChildProcess.h"

#include "platform/FolderTree.h"
#include "platform/Win.h"

#include <string>

class CAgentInstall
{
public:
    CAgentInstall();
    ~CAgentInstall();
    CAgentInstall(const CAgentInstall&) = delete;
    CAgentInstall& operator=(const CAgentInstall&) = delete;

    // The install folder, with its trailing backslash.
    const std::wstring& Folder() const { return m_folder; }

    // Copies a library or program of this build (bin folder) into subfolder ("" for the install folder
    // itself, "Utils", "Plugins", ...). The copy may get another name.
    bool Add(const std::wstring& builtFile, const std::wstring& subfolder, const std::wstring& asName = {});
    // The plug-in and every stand-in component, each in its place.
    bool AddComponents();
    bool Remove(const std::wstring& subfolder, const std::wstring& name);

    // Values of the agent's setup key; "Path" is set by the constructor.
    bool SetSetupValue(const wchar_t* name, const std::wstring& value);
    bool RemoveSetupValue(const wchar_t* name);

    // agent-host of this build on this install, with these options after its --install.
    ChildResult RunHost(const std::wstring& options = {}) const;

    // Where this build puts its programs and libraries, with a trailing backslash.
    static std::wstring BuildFolder();

private:
    std::wstring m_folder;
};
