#pragma once
// Whether the agent's own repository server can be offered to others: enabled in the settings, and the
// repository folder in place with the repository manager library in it. Settings are read afresh on each
// question; folder and library checks run under the module-wide repository mutex.

#include "host/IConfigUtil.h"

#include <mutex>
#include <string>

class IRepositoryServer
{
public:
    virtual ~IRepositoryServer() = default;
    virtual bool IsEnabled() = 0;
    virtual bool IsReady() = 0;
    virtual std::wstring GetVersion() = 0;   // empty unless IsReady
};

namespace Repository
{

// Guards every check of the repository folder and of the repository manager library in this module.
std::mutex& RepositoryMutex();

class CRepositoryServer : public IRepositoryServer
{
public:
    // util is handed to each settings read (null: the module's).
    explicit CRepositoryServer(IConfigUtil* util = nullptr);

    // False as well when there is no configuration utility.
    bool IsEnabled() override;
    bool IsReady() override;
    std::wstring GetVersion() override;

    const std::wstring& RepositoryFolder() const { return m_repositoryFolder; }
    const std::wstring& RegistryRepository() const { return m_registryRepository; }

private:
    std::wstring m_repositoryFolder;     // install folder + "Repository\", empty without "Path"
    std::wstring m_registryRepository;   // the setup key's "Repository", empty when absent
    IConfigUtil* m_configUtil;
};

} // namespace Repository
