#pragma once
// The list of a package's unpacked files with their MD5 texts ("catalog.dat").

class ICartridgeCatalog
{
public:
    virtual ~ICartridgeCatalog() = default;
};
