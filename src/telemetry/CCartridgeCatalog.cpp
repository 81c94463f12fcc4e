#include "telemetry/CCartridgeCatalog.h"

#include "host/Trace.h"
#include "platform/Digest.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/TextUtil.h"

#include <new>

TRACE_UNIT("8bfd6442-372d-4e1c-8df5-188f68cf02a4");

namespace
{
std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(full, length);
}

// A catalog names files below its folder only: never an absolute path or a drive, and never one that the
// system's own resolution of "..", "." and trailing dots or blanks takes elsewhere.
bool StaysInside(const std::wstring& folder, const std::wstring& relative)
{
    if (relative.front() == L'\\' || relative.front() == L'/' || relative.find(L':') != std::wstring::npos)
        return false;
    const std::wstring base = FullPath(folder);
    const std::wstring full = FullPath(folder + relative);
    return !base.empty() && full.size() > base.size() && EqualsIgnoringCase(full.substr(0, base.size()), base) &&
           (base.back() == L'\\' || full[base.size()] == L'\\');
}
} // namespace

bool CCartridgeCatalog::Read()
{
    std::string bytes;
    const DWORD error = ReadWholeFile(m_catalogPath, bytes);
    if (error != ERROR_SUCCESS)
    {
        TRACE_ERROR(kTraceFlagEvents, 10, "cannot read catalog %ls: error %u", m_catalogPath, error);
        return false;
    }
    m_entries.clear();
    std::size_t at = 0;
    while (at < bytes.size())
    {
        std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos)
            end = bytes.size();
        std::wstring line(bytes.begin() + at, bytes.begin() + end);
        at = end + 1;
        for (wchar_t& c : line)
            c = static_cast<wchar_t>(static_cast<unsigned char>(c));
        // A text-mode reader drops the carriage return of a CR LF ending; so does this one.
        if (!line.empty() && line.back() == L'\r')
            line.pop_back();
        const std::size_t colon = line.find(L':');
        if (colon == std::wstring::npos || colon == 0)
        {
            TRACE_ERROR(kTraceFlagEvents, 11, "catalog %ls: line %zu is not an entry", m_catalogPath,
                        m_entries.size() + 1);
            return false;
        }
        m_entries.emplace_back(line.substr(0, colon), line.substr(colon + 1));
    }
    return true;
}

bool CCartridgeCatalog::Check(const std::wstring& unpackedFolder)
{
    const std::wstring folder = WithTrailingBackslash(unpackedFolder);
    try
    {
        if (!Read())
            return false;
    }
    catch (const std::bad_alloc&)
    {
        TRACE_ERROR(kTraceFlagEvents, 12, "catalog %ls: not enough memory", m_catalogPath);
        return false;
    }
    for (const auto& [relative, md5] : m_entries)
    {
        if (!StaysInside(folder, relative))
        {
            TRACE_ERROR(kTraceFlagEvents, 13, "catalog %ls: entry %ls leads out of %ls", m_catalogPath, relative,
                        folder);
            return false;
        }
        if (!Md5OfFileMatches(folder + relative, md5))
        {
            TRACE_ERROR(kTraceFlagEvents, 14, "catalog %ls: %ls%ls does not match %ls", m_catalogPath, folder,
                        relative, md5);
            return false;
        }
    }
    return true;
}
