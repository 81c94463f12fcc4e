#pragma once
// Times and numbers as text, and text between UTF-16 and byte code pages. No state.

#include "platform/Win.h"

#include <cstddef>
#include <cstdint>
#include <string>

// "2024-03-05T07:08:09.010Z" (UTC, for the server) or "2024-03-05 07:08:09.010" (local form).
void FormatTimestamp(std::wstring& out, const SYSTEMTIME& time, bool localForm);

// Convert between UTF-16 and the byte text of codePage (CP_UTF8, or GetACP()). An empty input gives an empty
// output. On failure the output is left as it was. Text is taken up to its first NUL, as Windows converts it.
[[nodiscard]] bool WideToBytes(const std::wstring& in, std::string& out, UINT codePage);
[[nodiscard]] bool BytesToWide(const std::string& in, std::wstring& out, UINT codePage);
// The same for exactly length units of data, NULs included (bodies and replies, not texts).
[[nodiscard]] bool WideToBytes(const wchar_t* data, std::size_t length, std::string& out, UINT codePage);
[[nodiscard]] bool BytesToWide(const char* data, std::size_t length, std::wstring& out, UINT codePage);
// The same for UTF-8, for callers that have no use for a failure: empty when the text cannot be converted.
std::string WideToUtf8(const std::wstring& in);
std::wstring Utf8ToWide(const std::string& in);

// The text, or an empty one for null: how an interface's optional texts are kept.
std::wstring TextOrEmpty(const wchar_t* text);

// Decimal texts: no padding, no grouping, "-" only for negative values.
std::wstring UInt32ToText(std::uint32_t value);
std::wstring Int32ToText(std::int32_t value);
std::wstring SmallIntToText(std::int16_t value);
std::wstring UInt64ToText(std::uint64_t value);
std::wstring Int64ToText(std::int64_t value);

// The leading number of a text, as the C library's decimal text-to-integer conversions read it, made
// well-defined: blanks (space, tab to carriage return), an optional sign, then decimal digits up to the first
// other character. False when there are no digits (value 0). A number beyond 32 bits saturates at the
// nearest limit and sets *overflowed when given.
[[nodiscard]] bool ReadLeadingInt32(const std::wstring& text, std::int32_t& value, bool* overflowed = nullptr);
// The same for 64 bits, as the C library's wcstoll reads it; false also when the number does not fit (value
// then untouched).
[[nodiscard]] bool ReadLeadingInt64(const std::wstring& text, std::int64_t& value);

// The text's UTF-8 bytes percent-encoded ("%2F", upper-case hex) except the RFC 3986 unreserved characters
// (letters, digits, "-", ".", "_", "~"): safe in a URL's query or path segment. False, out untouched, when the
// text does not convert.
[[nodiscard]] bool PercentEncode(const std::wstring& text, std::wstring& out);

// Whether two texts are equal ignoring letter case (ordinal, no locale).
[[nodiscard]] bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b);

// Appends argument to a command line, after a space unless line is empty, quoted so that the C runtime's and
// CommandLineToArgvW's parsing give it back unchanged (spaces, quotes and backslashes before quotes included).
void AppendCommandLineArgument(std::wstring& line, const std::wstring& argument);
