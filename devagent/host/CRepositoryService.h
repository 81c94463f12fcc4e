#pragma once
// The agent's repository server, as the agent's service runs it: Merrow.dll's server started with the
// repository folder and port, stopped and given back by the destructor.

#include "host/CRepositoryManagerLoader.h"

#include <memory>
#include <string>

namespace devagent
{

class CRepositoryService
{
public:
    // managerFolder: where Merrow.dll lies.
    explicit CRepositoryService(const std::wstring& managerFolder);
    ~CRepositoryService();
    CRepositoryService(const CRepositoryService&) = delete;
    CRepositoryService& operator=(const CRepositoryService&) = delete;

    // Serves folder on port (0: the system picks); false with error when it cannot.
    bool Start(const std::wstring& folder, unsigned long port, std::wstring& error);
    unsigned long Port();

private:
    CRepositoryManagerLoader m_loader;
    IRepositoryManager* m_manager = nullptr;
};

// When "Repository.Server.Settings" enables the server and the install's "Repository" folder holds
// Merrow.dll: the server started on the configured path (else that folder) and port; null otherwise (error
// says why when it was enabled).
std::unique_ptr<CRepositoryService> StartConfiguredRepository(const std::wstring& install, std::wstring& error);

// Serves folder on port from the Merrow.dll beside this program until Ctrl+C or Ctrl+Break; the exit status.
int RunPeerRepository(const std::wstring& folder, unsigned long port);

} // namespace devagent
