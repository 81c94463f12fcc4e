#pragma once
// A fresh folder under the temporary folder for one test, removed with everything in it afterwards; and the
// test children of this build.

#include "CAgentInstall.h"

#include <string>

class CTempFolder
{
public:
    CTempFolder()
    {
        static int counter = 0;
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_path = std::wstring(temp) + L"telemetry-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                 std::to_wstring(++counter) + L"\\";
        ::CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~CTempFolder() { RemoveTree(m_path); }
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;

    // With its trailing backslash.
    const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

inline std::wstring ChildProgram(const wchar_t* name)
{
    return CAgentInstall::BuildFolder() + L"test_child_" + name + L".exe";
}
