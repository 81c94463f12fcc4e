#include "CComponentSettings.h"

#include "platform/Files.h"
#include "platform/ModuleFolder.h"

#include <cwchar>

namespace
{

// A file written this shortly before it was read may be written again, to the same size, with the same last
// write time (file systems keep it to the system's tick, about 16 ms at most): such a file is read again on the
// next call, so that a key switched between two calls is always seen. In 100 ns units.
constexpr std::uint64_t kTimeGranularity = 100 * 10'000ull;

std::uint64_t Ticks(const FILETIME& time)
{
    return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

std::wstring InFolder(const wchar_t* name)
{
    const std::wstring folder = ThisModuleFolder();
    return folder.empty() ? std::wstring() : folder + name;
}

} // namespace

std::uint64_t SettingNumber(const CMessageItem& item)
{
    switch (item.m_type)
    {
    case Boolean: return item.m_value.boolean ? 1 : 0;
    case Integer: return item.m_unsigned || item.m_value.i64 >= 0 ? item.m_value.u64 : 0;
    case String: return item.m_string == L"true" ? 1 : std::wcstoull(item.m_string.c_str(), nullptr, 10);
    default: return 0;
    }
}

CComponentSettings::CComponentSettings()
    : m_paths{InFolder(L"config.json"), InFolder(L"..\\Utils\\config.json")},
      m_values(std::make_shared<const CMessageObject>())
{}

std::uint64_t CComponentSettings::Number(const wchar_t* key, std::uint64_t fallback)
{
    const std::shared_ptr<const CMessageObject> values = Values();
    const CMessageItem* item = nullptr;
    return values->FindItem(key, item) ? SettingNumber(*item) : fallback;
}

std::shared_ptr<const CMessageObject> CComponentSettings::Values()
{
    const FileSeen seen = Look();
    std::lock_guard<std::mutex> lock(m_mutex);
    Refresh(seen);
    return m_values;
}

CComponentSettings::FileSeen CComponentSettings::Look() const
{
    FileSeen seen;
    for (const std::wstring& path : m_paths)
        if (!path.empty() && ::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &seen.data))
        {
            seen.path = &path;
            break;
        }
    return seen;
}

void CComponentSettings::Refresh(const FileSeen& seen)
{
    const FILETIME& stamp = seen.data.ftLastWriteTime;
    const std::uint64_t size = static_cast<std::uint64_t>(seen.data.nFileSizeHigh) << 32 | seen.data.nFileSizeLow;
    if (seen.path != nullptr && seen.path == m_readPath && size == m_size && ::CompareFileTime(&stamp, &m_stamp) == 0)
        return;
    m_readPath = nullptr;
    m_values = std::make_shared<const CMessageObject>();
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    std::string text;
    // Shared for delete too: the configuration component replaces the file while others read it. A file that
    // cannot be read now is tried again next time: a writer may be replacing it.
    if (seen.path == nullptr ||
        ReadWholeFile(*seen.path, text, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE) != ERROR_SUCCESS)
        return;
    auto values = std::make_shared<CMessageObject>();
    if (values->FromUtf8Json(text))
        m_values = std::move(values);
    if (Ticks(now) < Ticks(stamp) + kTimeGranularity)
        return;
    m_readPath = seen.path;
    m_stamp = stamp;
    m_size = size;
}
