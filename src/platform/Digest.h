#pragma once
// MD5 and SHA-256 digests as lower-case hexadecimal text, on the CryptoAPI.
//
// Status codes: ERROR_SUCCESS; ERROR_INVALID_PARAMETER (87) for a null or empty input or path;
// ERROR_BAD_FORMAT (11) when a block or string digest cannot be produced; ERROR_FILE_NOT_FOUND (2) when a file
// digest cannot be produced, whatever the cause. On failure the output is left as it was.

#include "platform/Win.h"

#include <cstddef>
#include <string>

[[nodiscard]] DWORD Md5HexOfBuffer(const void* data, std::size_t length, std::wstring& hex);
// The string's UTF-16LE code units, 2 bytes per character, no terminator.
[[nodiscard]] DWORD Md5HexOfString(const wchar_t* text, std::wstring& hex);
[[nodiscard]] DWORD Md5HexOfFile(const wchar_t* path, std::wstring& hex);
// Whether the file's MD5 text equals expected, ignoring letter case; a file without a digest never matches.
[[nodiscard]] bool Md5OfFileMatches(const std::wstring& path, const std::wstring& expected);

[[nodiscard]] DWORD Sha256HexOfBuffer(const void* data, std::size_t length, std::wstring& hex);
[[nodiscard]] DWORD Sha256HexOfFile(const wchar_t* path, std::wstring& hex);

// While one lives, the digests of the process (on any thread) share the providers' contexts instead of each
// acquiring its own: an acquisition reads the provider's registry keys and, when no context is alive, loads the
// provider's library, which under Wine costs about 0.4 ms and 15 ms respectively. Hold one around a run of
// digests; the contexts go with the last holder.
class CDigestProviders
{
public:
    CDigestProviders();
    ~CDigestProviders();
    CDigestProviders(const CDigestProviders&) = delete;
    CDigestProviders& operator=(const CDigestProviders&) = delete;
};
