#include "platform/TextUtil.h"

#include <cstdio>
#include <cwchar>
#include <memory>

namespace
{
template <typename... Args>
std::wstring Format(const wchar_t* pattern, Args... args)
{
    wchar_t buffer[64];
    const int n = std::swprintf(buffer, 64, pattern, args...);
    return n > 0 ? std::wstring(buffer, static_cast<size_t>(n)) : std::wstring();
}
} // namespace

void FormatTimestamp(std::wstring& out, const SYSTEMTIME& t, bool localForm)
{
    wchar_t buffer[24] = {};
    // _snwprintf truncates without a terminator; the buffer's last cell stays zero.
    _snwprintf(buffer, 23, L"%04d-%02d-%02d%c%02d:%02d:%02d.%03d", t.wYear, t.wMonth, t.wDay,
               localForm ? L' ' : L'T', t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    out.assign(buffer);
    if (!localForm)
        out.push_back(L'Z');
}

bool WideToBytes(const std::wstring& in, std::string& out, UINT codePage)
{
    if (in.empty())
    {
        out.clear();
        return true;
    }
    // The sizes include the terminator: the input is converted as NUL-terminated text.
    const int size = ::WideCharToMultiByte(codePage, 0, in.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (size < 1)
        return false;
    auto buffer = std::make_unique<char[]>(static_cast<size_t>(size));
    if (::WideCharToMultiByte(codePage, 0, in.c_str(), -1, buffer.get(), size, nullptr, nullptr) < 1)
        return false;
    out.assign(buffer.get());
    return true;
}

bool BytesToWide(const std::string& in, std::wstring& out, UINT codePage)
{
    if (in.empty())
    {
        out.clear();
        return true;
    }
    const int size = ::MultiByteToWideChar(codePage, 0, in.c_str(), -1, nullptr, 0);
    if (size < 1)
        return false;
    auto buffer = std::make_unique<wchar_t[]>(static_cast<size_t>(size));
    if (::MultiByteToWideChar(codePage, 0, in.c_str(), -1, buffer.get(), size) < 1)
        return false;
    out.assign(buffer.get());
    return true;
}

std::wstring UInt32ToText(std::uint32_t value) { return Format(L"%lu", static_cast<unsigned long>(value)); }
std::wstring Int32ToText(std::int32_t value) { return Format(L"%ld", static_cast<long>(value)); }
std::wstring SmallIntToText(std::int16_t value) { return Format(L"%d", static_cast<int>(value)); }
std::wstring UInt64ToText(std::uint64_t value) { return Format(L"%llu", static_cast<unsigned long long>(value)); }
std::wstring Int64ToText(std::int64_t value) { return Format(L"%lld", static_cast<long long>(value)); }

bool ReadLeadingInt32(const std::wstring& text, std::int32_t& value, bool* overflowed)
{
    std::size_t at = 0;
    while (at < text.size() && (text[at] == L' ' || (text[at] >= L'\t' && text[at] <= L'\r')))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == L'+' || text[at] == L'-'))
        negative = text[at++] == L'-';
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    const std::size_t digits = at;
    std::int64_t magnitude = 0;
    bool beyond = false;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at)
    {
        magnitude = magnitude * 10 + (text[at] - L'0');
        if (magnitude > limit)
        {
            magnitude = limit;
            beyond = true;
        }
    }
    if (overflowed != nullptr)
        *overflowed = beyond;
    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return at != digits;
}
