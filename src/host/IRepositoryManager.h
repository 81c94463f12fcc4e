#pragma once
// The repository manager component (Merrow.dll in the install's "Repository" folder): the agent's repository
// server. Obtained with GetIRepositoryManager, given back with FreeIRepositoryManager, which stops a server
// still running. Results are Windows error numbers.
//
// Shared by the plug-in, the development host and the stand-in component; binary contract as in IPlugin.h.

#include "platform/Win.h"

class IRepositoryManager
{
public:
    virtual ~IRepositoryManager() = default;   // slot 0
    // settings: a JSON object with "RepositoryDir" (the folder served) and "Port".
    virtual DWORD Start(const wchar_t* settings) = 0;                   // slot 1
    virtual DWORD Stop() = 0;                                           // slot 2
    // An "AddRepositoryContent" request's JSON text: the named files are fetched in the background.
    virtual DWORD AddRepositoryContent(const wchar_t* request) = 0;     // slot 3
    // The port served, 0 while stopped.
    virtual DWORD GetPort() = 0;                                        // slot 4
};
