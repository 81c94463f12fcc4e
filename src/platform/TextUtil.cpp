#include "platform/TextUtil.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <utility>

namespace
{
template <typename... Args>
std::wstring Format(const wchar_t* pattern, Args... args)
{
    wchar_t buffer[64];
    const int n = std::swprintf(buffer, 64, pattern, args...);
    return n > 0 ? std::wstring(buffer, static_cast<size_t>(n)) : std::wstring();
}
// Exactly length units of data through convert(data, count, buffer, size), the Windows conversion that gives
// the size it needs for a null buffer. The output is replaced only on success.
template <typename In, typename Out, typename Convert>
bool ConvertLength(const In* data, std::size_t length, Out& out, Convert convert)
{
    if (length == 0)
    {
        out.clear();
        return true;
    }
    if (length > static_cast<std::size_t>(INT_MAX))
        return false;
    const int count = static_cast<int>(length);
    const int size = convert(data, count, nullptr, 0);
    if (size < 1)
        return false;
    Out converted(static_cast<std::size_t>(size), typename Out::value_type());
    if (convert(data, count, converted.data(), size) != size)
        return false;
    out = std::move(converted);
    return true;
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

bool WideToBytes(const wchar_t* data, std::size_t length, std::string& out, UINT codePage)
{
    return ConvertLength(data, length, out, [codePage](const wchar_t* in, int count, char* buffer, int size) {
        return ::WideCharToMultiByte(codePage, 0, in, count, buffer, size, nullptr, nullptr);
    });
}

bool BytesToWide(const char* data, std::size_t length, std::wstring& out, UINT codePage)
{
    return ConvertLength(data, length, out, [codePage](const char* in, int count, wchar_t* buffer, int size) {
        return ::MultiByteToWideChar(codePage, 0, in, count, buffer, size);
    });
}

bool WideToBytes(const std::wstring& in, std::string& out, UINT codePage)
{
    return WideToBytes(in.c_str(), std::wcslen(in.c_str()), out, codePage);
}

bool BytesToWide(const std::string& in, std::wstring& out, UINT codePage)
{
    return BytesToWide(in.c_str(), std::strlen(in.c_str()), out, codePage);
}

std::string WideToUtf8(const std::wstring& in)
{
    std::string out;
    return WideToBytes(in, out, CP_UTF8) ? out : std::string();
}

std::wstring Utf8ToWide(const std::string& in)
{
    std::wstring out;
    return BytesToWide(in, out, CP_UTF8) ? out : std::wstring();
}

std::wstring UInt32ToText(std::uint32_t value) { return Format(L"%lu", static_cast<unsigned long>(value)); }
std::wstring Int32ToText(std::int32_t value) { return Format(L"%ld", static_cast<long>(value)); }
std::wstring SmallIntToText(std::int16_t value) { return Format(L"%d", static_cast<int>(value)); }
std::wstring UInt64ToText(std::uint64_t value) { return Format(L"%llu", static_cast<unsigned long long>(value)); }
std::wstring Int64ToText(std::int64_t value) { return Format(L"%lld", static_cast<long long>(value)); }

namespace
{

// The leading decimal number of text as a magnitude with its sign, saturated at limit (the positive one;
// one more for a negative number). False when there are no digits.
bool ReadLeadingMagnitude(const std::wstring& text, std::uint64_t limit, std::uint64_t& magnitude,
                          bool& negative, bool& beyond)
{
    std::size_t at = 0;
    while (at < text.size() && (text[at] == L' ' || (text[at] >= L'\t' && text[at] <= L'\r')))
        ++at;
    negative = false;
    if (at < text.size() && (text[at] == L'+' || text[at] == L'-'))
        negative = text[at++] == L'-';
    if (negative)
        ++limit;
    const std::size_t digits = at;
    magnitude = 0;
    beyond = false;
    for (; at < text.size() && text[at] >= L'0' && text[at] <= L'9'; ++at)
    {
        const auto digit = static_cast<std::uint64_t>(text[at] - L'0');
        if (beyond || magnitude > (limit - digit) / 10)
        {
            magnitude = limit;
            beyond = true;
            continue;
        }
        magnitude = magnitude * 10 + digit;
    }
    return at != digits;
}

} // namespace

bool ReadLeadingInt32(const std::wstring& text, std::int32_t& value, bool* overflowed)
{
    std::uint64_t magnitude = 0;
    bool negative = false, beyond = false;
    const bool read = ReadLeadingMagnitude(text, 2147483647ULL, magnitude, negative, beyond);
    if (overflowed != nullptr)
        *overflowed = beyond;
    value = static_cast<std::int32_t>(negative ? -static_cast<std::int64_t>(magnitude)
                                               : static_cast<std::int64_t>(magnitude));
    return read;
}

bool ReadLeadingInt64(const std::wstring& text, std::int64_t& value)
{
    std::uint64_t magnitude = 0;
    bool negative = false, beyond = false;
    if (!ReadLeadingMagnitude(text, 9223372036854775807ULL, magnitude, negative, beyond) || beyond)
        return false;
    value = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
    return true;
}

bool PercentEncode(const std::wstring& text, std::wstring& out)
{
    std::string bytes;
    if (!WideToBytes(text, bytes, CP_UTF8))
        return false;
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring encoded;
    encoded.reserve(bytes.size() * 3);
    for (const char c : bytes)
    {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            byte == '-' || byte == '.' || byte == '_' || byte == '~')
        {
            encoded += static_cast<wchar_t>(byte);
        }
        else
        {
            encoded += L'%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    out = std::move(encoded);
    return true;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

std::wstring TextOrEmpty(const wchar_t* text)
{
    return text != nullptr ? std::wstring(text) : std::wstring();
}

void AppendCommandLineArgument(std::wstring& line, const std::wstring& argument)
{
    if (!line.empty())
        line += L' ';
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    {
        line += argument;
        return;
    }
    // Backslashes are literal except before a quote: there, and before the closing quote, they are doubled.
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : argument)
    {
        if (c == L'\\')
        {
            ++backslashes;
            continue;
        }
        line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}
