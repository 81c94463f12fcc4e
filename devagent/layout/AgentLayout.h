#pragma once
// The layout of an agent install, as the agent's installer makes it: the folders, which component library
// goes where, and the agent's setup key. Shared by the development agent's host and the tests' installs.
// Every call returns ERROR_SUCCESS or the Windows error.

#include "host/InstallLocations.h"
#include "platform/Win.h"

#include <string>

namespace devagent
{

// The folders under the install folder.
constexpr const wchar_t* kInstallSubfolders[] = {L"Utils", L"Plugins", L"Additional files", L"Repository"};

// Where each component library lives: a subfolder of the install, "" for the install folder itself.
struct ComponentPlace
{
    const wchar_t* file;
    const wchar_t* subfolder;
};
constexpr ComponentPlace kComponentPlaces[] = {
    {L"Telemetry.dll", L"Plugins"}, {L"Tamsin.dll", L"Utils"}, {L"Hollin.dll", L"Utils"}, {L"Quillon.dll", L"Utils"},
    {L"QuillonLC.dll", L"Utils"},   {L"Anvara.dll", L"Utils"}, {L"Ostrel.dll", L""},
    {L"Wexler.exe", L"Additional files"},
    {L"Yarran.dll", L"Utils"},   {L"Fenrik.dll", L"Utils"}, {L"Pelter.dll", L"Plugins"},
    {L"Merrow.dll", L"Repository"},
    {L"Brevik.dll", L"Utils"},
};

// Creates folder and its subfolders; those that exist already are kept.
DWORD MakeInstallFolders(const std::wstring& folder);

// Copies from\file to install\subfolder\asName (asName empty: the same name); failed names the target.
DWORD CopyIntoInstall(const std::wstring& from, const std::wstring& file, const std::wstring& install,
                      const std::wstring& subfolder, const std::wstring& asName, std::wstring& failed);
// Every library of kComponentPlaces, from the folder that holds this build's programs.
DWORD CopyComponents(const std::wstring& from, const std::wstring& install, std::wstring& failed);

// Values of the agent's setup key (HKEY_LOCAL_MACHINE), texts.
DWORD WriteSetupValue(const wchar_t* name, const std::wstring& value);
DWORD RemoveSetupValue(const wchar_t* name);
DWORD RemoveSetupKey();
// "Path" (folder, with its trailing backslash) and the identity values of a development agent; failed names
// the value that could not be written.
DWORD RegisterDevelopmentAgent(const std::wstring& folder, std::wstring& failed);

} // namespace devagent
