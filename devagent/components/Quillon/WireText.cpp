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
    // As a path segment, "." and ".." would move along the path: their dots are encoded too.
    if (segment && (text == L"." || text == L".."))
        return text == L"." ? L"%2E" : L"%2E%2E";
    std::wstring encoded;
    static_cast<void>(::PercentEncode(text, encoded));   // a text that does not convert goes as nothing
    return encoded;
}
