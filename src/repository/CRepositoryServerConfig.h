#pragma once
// The local repository server's settings ("Repository.Server.Settings", a JSON object, and the content version
// "Repository.Server.Version"), read once at construction. Unreadable settings leave every default; the path
// then comes from the setup key's "Repository" value. The utility belongs to the configuration component.

#include "host/CConfigReader.h"

#include <cstdint>
#include <memory>
#include <string>

class IRepositoryServerConfig
{
public:
    virtual ~IRepositoryServerConfig() = default;
    virtual bool Enabled() const = 0;
    virtual std::uint32_t Port() const = 0;
    virtual std::wstring RepositoryPath() const = 0;   // ends with a backslash unless empty
    virtual std::uint32_t MaxLogSize() const = 0;
    virtual std::wstring Version() const = 0;
    virtual std::wstring DriveLetter() const = 0;
    // Writes the version ("" removes the key); the member follows only on success.
    [[nodiscard]] virtual bool SetVersion(const std::wstring& version) = 0;
    virtual bool Reload() = 0;
};

namespace Repository
{

constexpr std::uint32_t kDefaultServerPort = 18226;
constexpr std::uint32_t kDefaultMaxLogSize = 10240;

class CRepositoryServerConfig : public IRepositoryServerConfig, private CConfigReader
{
public:
    // A null util takes the module's; throws std::invalid_argument("configUtil") when there is none.
    explicit CRepositoryServerConfig(IConfigUtil* util = nullptr);

    bool Enabled() const override { return m_enabled; }
    std::uint32_t Port() const override { return m_port; }
    std::wstring RepositoryPath() const override { return m_repositoryPath; }
    std::uint32_t MaxLogSize() const override { return m_maxLogSize; }
    std::wstring Version() const override { return m_version; }
    std::wstring DriveLetter() const override { return m_driveLetter; }
    [[nodiscard]] bool SetVersion(const std::wstring& version) override;
    // Reads both keys again; members that a key does not set keep their values, except Port, which falls
    // back to its default whenever the settings parse but hold no Integer "Port".
    bool Reload() override;

private:
    bool m_enabled = false;
    std::uint32_t m_port = kDefaultServerPort;
    std::wstring m_repositoryPath;
    std::uint32_t m_maxLogSize = kDefaultMaxLogSize;
    std::wstring m_version;
    std::wstring m_driveLetter;
};

// Throws std::invalid_argument("configUtil") when util is null and the module has no utility either.
IConfigUtil* RequireConfigUtil(IConfigUtil* util);

} // namespace Repository
