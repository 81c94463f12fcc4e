#pragma once
// "catalog.dat": one line per unpacked file, "<path relative to the unpacked folder>:<MD5 text>", lines ended
// by a line feed (the last one may lack it), each byte one character. The first ":" separates the two parts.
// An empty file lists nothing and is valid.

#include "telemetry/ICartridgeCatalog.h"

#include <string>
#include <utility>
#include <vector>

class CCartridgeCatalog : public ICartridgeCatalog
{
public:
    explicit CCartridgeCatalog(const std::wstring& catalogPath) : m_catalogPath(catalogPath) {}

    // Reads the catalog, then checks each listed file below unpackedFolder (with its trailing backslash)
    // against its MD5 text, in file order. False, traced, for an unreadable catalog, a line without ":" or
    // starting with one (an empty line too), an entry that is absolute, names a drive or leads out of the
    // folder, and at the first file that does not match. Files the catalog does not list are not looked at.
    [[nodiscard]] bool Check(const std::wstring& unpackedFolder);

    const std::vector<std::pair<std::wstring, std::wstring>>& Entries() const { return m_entries; }

private:
    [[nodiscard]] bool Read();

    std::wstring m_catalogPath;
    std::vector<std::pair<std::wstring, std::wstring>> m_entries;   // relative path, MD5 text
};
