#include "platform/Encoding.h"

#include <algorithm>
#include <string>

namespace
{

constexpr char kStandardAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrlAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
constexpr DWORD kLargestInput = 0xBFFFFFFFu;   // 4 * ceil(length / 3) still fits a DWORD

// Room for `needed` characters: when there is none, the needed length is reported and the call fails.
bool Reserve(DWORD needed, DWORD* capacity)
{
    if (*capacity >= needed)
        return true;
    *capacity = needed;
    return false;
}

bool Encode(const BYTE* data, DWORD length, char* out, DWORD* outLength, const char* alphabet, bool pad)
{
    if (data == nullptr || length == 0 || length > kLargestInput || out == nullptr || outLength == nullptr)
        return false;
    const DWORD tail = length % 3;
    const DWORD needed = length / 3 * 4 + (tail == 0 ? 0 : pad ? 4 : tail + 1);
    if (!Reserve(needed, outLength))
        return false;

    char* to = out;
    DWORD at = 0;
    for (; at + 3 <= length; at += 3)
    {
        const DWORD group = data[at] << 16 | data[at + 1] << 8 | data[at + 2];
        *to++ = alphabet[group >> 18 & 63];
        *to++ = alphabet[group >> 12 & 63];
        *to++ = alphabet[group >> 6 & 63];
        *to++ = alphabet[group & 63];
    }
    if (tail != 0)
    {
        const DWORD group = data[at] << 16 | (tail == 2 ? data[at + 1] << 8 : 0);
        *to++ = alphabet[group >> 18 & 63];
        *to++ = alphabet[group >> 12 & 63];
        if (tail == 2)
            *to++ = alphabet[group >> 6 & 63];
        else if (pad)
            *to++ = '=';
        if (pad)
            *to++ = '=';
    }
    *outLength = needed;
    return true;
}

int SixBits(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

bool Base64Encode(const BYTE* data, DWORD length, char* out, DWORD* outLength)
{
    return Encode(data, length, out, outLength, kStandardAlphabet, true);
}

bool Base64UrlEncode(const BYTE* data, DWORD length, char* out, DWORD* outLength)
{
    return Encode(data, length, out, outLength, kUrlAlphabet, false);
}

bool Base64Decode(const char* text, DWORD length, BYTE* out, DWORD* outLength)
{
    if (text == nullptr || length == 0 || length % 4 != 0 || out == nullptr || outLength == nullptr)
        return false;
    // Padding anywhere but at the very end would silently shift every byte after it.
    const DWORD padding = text[length - 1] != '=' ? 0 : text[length - 2] != '=' ? 1 : 2;
    const DWORD needed = length / 4 * 3 - padding;
    if (!Reserve(needed, outLength))
        return false;
    // Checked whole before a byte is written: a text that fails leaves the buffer as it was.
    for (DWORD at = 0; at < length - padding; ++at)
    {
        if (SixBits(text[at]) < 0)
            return false;
    }

    DWORD produced = 0;
    for (DWORD at = 0; at < length; at += 4)
    {
        const bool last = at + 4 == length;
        DWORD group = 0;
        for (DWORD i = 0; i < 4; ++i)
        {
            const bool pad = last && i >= 4 - padding;
            group = group << 6 | static_cast<DWORD>(pad ? 0 : SixBits(text[at + i]));
        }
        const DWORD bytes = last ? 3 - padding : 3;
        for (DWORD i = 0; i < bytes; ++i)
            out[produced++] = static_cast<BYTE>(group >> (16 - 8 * i));
    }
    *outLength = produced;
    return true;
}

bool Base64UrlDecode(const char* text, DWORD length, BYTE* out, DWORD* outLength)
{
    if (text == nullptr || length == 0 || length > kLargestInput)
        return false;
    std::string standard(text, length);
    if (length % 4 == 2)
        standard += "==";
    else if (length % 4 == 3)
        standard += "=";
    for (char& c : standard)
    {
        if (c == '-')
            c = '+';
        else if (c == '_')
            c = '/';
    }
    return Base64Decode(standard.data(), static_cast<DWORD>(standard.size()), out, outLength);
}

bool HexEncode(const BYTE* data, DWORD length, char* out, DWORD* capacity)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    if (data == nullptr || length == 0 || length > 0x7FFFFFFFu || out == nullptr || capacity == nullptr)
        return false;
    const DWORD needed = 2 * length;
    const DWORD room = *capacity;
    if (!Reserve(needed, capacity))
        return false;
    for (DWORD i = 0; i < length; ++i)
    {
        out[2 * i] = kDigits[data[i] >> 4];
        out[2 * i + 1] = kDigits[data[i] & 15];
    }
    if (room > needed)
        out[needed] = '\0';
    *capacity = needed;
    return true;
}

std::shared_ptr<const std::vector<BYTE>> MakePlainKeyBlob(const BYTE* key, DWORD length, ALG_ID algorithm)
{
    if (key == nullptr && length != 0)
        return nullptr;
    auto blob = std::make_shared<std::vector<BYTE>>(12 + length);
    BYTE* at = blob->data();
    at[0] = PLAINTEXTKEYBLOB;
    at[1] = CUR_BLOB_VERSION;
    for (int i = 0; i < 4; ++i)
    {
        at[4 + i] = static_cast<BYTE>(algorithm >> (8 * i));
        at[8 + i] = static_cast<BYTE>(length >> (8 * i));
    }
    if (length != 0)
        std::copy(key, key + length, at + 12);
    return blob;
}
