#include "ScheduleTime.h"

#include "platform/TextUtil.h"
#include "platform/Win.h"

namespace
{
constexpr std::uint64_t kTicksPerMs = 10000;

std::uint64_t ToMs(const FILETIME& time)
{
    return ((static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / kTicksPerMs;
}

// Exactly count decimal digits from pos on, which moves past them.
bool ReadDigits(const std::wstring& text, std::size_t& pos, std::size_t count, WORD& value)
{
    value = 0;
    for (std::size_t end = pos + count; pos < end; ++pos)
    {
        if (pos >= text.size() || text[pos] < L'0' || text[pos] > L'9')
            return false;
        value = static_cast<WORD>(value * 10 + (text[pos] - L'0'));
    }
    return true;
}

bool Expect(const std::wstring& text, std::size_t& pos, const wchar_t* allowed)
{
    if (pos >= text.size() || std::wstring(allowed).find(text[pos]) == std::wstring::npos)
        return false;
    ++pos;
    return true;
}
} // namespace

std::uint64_t UtcNowMs()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return ToMs(now);
}

bool ParseScheduleTime(const std::wstring& text, bool local, std::uint64_t& ms)
{
    SYSTEMTIME time{};
    std::size_t pos = 0;
    if (!ReadDigits(text, pos, 4, time.wYear) || !Expect(text, pos, L"-") || !ReadDigits(text, pos, 2, time.wMonth) ||
        !Expect(text, pos, L"-") || !ReadDigits(text, pos, 2, time.wDay) || !Expect(text, pos, L"T ") ||
        !ReadDigits(text, pos, 2, time.wHour) || !Expect(text, pos, L":") || !ReadDigits(text, pos, 2, time.wMinute) ||
        !Expect(text, pos, L":") || !ReadDigits(text, pos, 2, time.wSecond))
        return false;
    if (pos < text.size() && text[pos] == L'.' && !ReadDigits(text, ++pos, 3, time.wMilliseconds))
        return false;
    const bool utc = pos < text.size() && text[pos] == L'Z';
    if (pos + (utc ? 1 : 0) != text.size())
        return false;
    SYSTEMTIME universal = time;
    if (local && !utc && !::TzSpecificLocalTimeToSystemTime(nullptr, &time, &universal))
        return false;
    FILETIME file{};
    if (!::SystemTimeToFileTime(&universal, &file))
        return false;
    ms = ToMs(file);
    return true;
}

std::wstring FormatScheduleTime(std::uint64_t ms)
{
    const std::uint64_t ticks = ms * kTicksPerMs;
    const FILETIME file{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME time{};
    std::wstring text;
    if (::FileTimeToSystemTime(&file, &time))
        FormatTimestamp(text, time, false);
    return text;
}
