#include "WireText.h"

#include "platform/Encoding.h"
#include "platform/TextUtil.h"

std::string Base64Of(const void* data, size_t length)
{
    if (data == nullptr || length == 0 || length > 0xBFFFFFFFu)
        return {};
    DWORD needed = static_cast<DWORD>((length + 2) / 3 * 4);
    std::string text(needed, '\0');
    if (!Base64Encode(static_cast<const BYTE*>(data), static_cast<DWORD>(length), &text[0], &needed))
        return {};
    text.resize(needed);
    return text;
}

std::wstring PercentEncode(const std::wstring& text, bool segment)
{
    static constexpr wchar_t kHex[] = L"0123456789ABCDEF";
    const std::string bytes = WideToUtf8(text);
    const bool dots = segment && (bytes == "." || bytes == "..");
    std::wstring out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes)
    {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '~' ||
                                (byte == '.' && !dots);
        if (unreserved)
            out += static_cast<wchar_t>(byte);
        else
        {
            out += L'%';
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        }
    }
    return out;
}
