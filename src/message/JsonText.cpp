// JSON text of message items and objects: writing is our own, reading goes through json-parser.

#include "message/CMessageObject.h"

#include "platform/TextUtil.h"

#include <json.h>

#include <charconv>
#include <cmath>
#include <cwchar>
#include <memory>
#include <unordered_set>

namespace
{
// Texts end at their first U+0000, as they do when read: a NUL written into the text would cut its UTF-8
// form short, and a half-written text must never be delivered.
std::wstring_view UpToNul(const std::wstring& text)
{
    return std::wstring_view(text.c_str(), std::wcslen(text.c_str()));
}

// Backslash, double quote, CR and LF are escaped; everything else is written as it is.
void AppendEscaped(std::wstring& out, std::wstring_view text)
{
    size_t from = 0;
    for (size_t i = 0; i < text.size(); ++i)
    {
        wchar_t escape;
        switch (text[i])
        {
        case L'\\': escape = L'\\'; break;
        case L'"': escape = L'"'; break;
        case L'\r': escape = L'r'; break;
        case L'\n': escape = L'n'; break;
        default: continue;
        }
        out.append(text.substr(from, i - from));
        out.push_back(L'\\');
        out.push_back(escape);
        from = i + 1;
    }
    out.append(text.substr(from));
}

void AppendName(std::wstring& out, const std::wstring& name)
{
    out.push_back(L'"');
    AppendEscaped(out, UpToNul(name));
    out.append(L"\":", 2);
}

void AppendAscii(std::wstring& out, const char* begin, const char* end)
{
    out.append(begin, end); // widens each ASCII character
}

template <typename T>
void AppendInteger(std::wstring& out, T value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    AppendAscii(out, buffer, result.ptr);
}

// Fixed notation with six decimals, never an exponent (like "%f"). Infinities and NaN have no JSON form;
// they are written as null so that the text stays readable (json-parser turns 1e999 into an infinity).
void AppendDouble(std::wstring& out, double value)
{
    if (!std::isfinite(value))
    {
        out.append(L"null");
        return;
    }
    char buffer[400]; // the largest finite double has 309 integer digits
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    AppendAscii(out, buffer, result.ptr);
}
} // namespace

bool CMessageItem::AppendJson(std::wstring& out) const
{
    if (!m_name.empty() && m_type != Object)
        AppendName(out, m_name);
    switch (m_type)
    {
    case Integer:
        if (m_unsigned)
            AppendInteger(out, m_value.u64);
        else
            AppendInteger(out, m_value.i64);
        return true;
    case Double:
        AppendDouble(out, m_value.dbl);
        return true;
    case Boolean:
        out.append(m_value.boolean ? L"true" : L"false");
        return true;
    case String:
        out.push_back(L'"');
        AppendEscaped(out, UpToNul(m_string));
        out.push_back(L'"');
        return true;
    case Object:
        return m_value.object && m_value.object->AppendJson(out);
    case Null:
        out.append(L"null");
        return true;
    default:
        return false;
    }
}

bool CMessageItem::Serialize(std::wstring& out) const
{
    out.clear();
    if (!AppendJson(out))
    {
        out.clear();
        return false;
    }
    return !out.empty();
}

bool CMessageItem::SerializeUtf8(std::string& out) const
{
    std::wstring text;
    return Serialize(text) && WideToBytes(text, out, CP_UTF8);
}

bool CMessageObject::AppendJson(std::wstring& out) const
{
    if (!m_name.empty())
        AppendName(out, m_name);
    out.push_back(m_isArray ? L'[' : L'{');
    bool first = true;
    for (const CMessageItem& item : m_items)
    {
        if (!first)
            out.push_back(L',');
        first = false;
        // A member of an object always has a name, even an empty one ({"":1} is valid JSON, {1} is not).
        if (!m_isArray && item.m_name.empty())
            out.append(L"\"\":", 3);
        if (!item.AppendJson(out))
            return false;
    }
    out.push_back(m_isArray ? L']' : L'}');
    return true;
}

bool CMessageObject::Serialize(std::wstring& out) const
{
    out.clear();
    if (!AppendJson(out))
    {
        out.clear();
        return false;
    }
    return !out.empty();
}

bool CMessageObject::SerializeUtf8(std::string& out) const
{
    std::wstring text;
    return Serialize(text) && WideToBytes(text, out, CP_UTF8);
}

// Builds a message tree from json-parser's value tree.
class CJsonReader
{
public:
    static bool Fill(CMessageObject& target, const json_value& value, unsigned depth)
    {
        if (depth > CMessageObject::kMaxJsonDepth)
            return false;
        if (value.type == json_array)
        {
            for (const json_value* element : value.u.array)
                if (!Add(target, std::wstring(), *element, depth, nullptr))
                    return false;
            return true;
        }
        // Repeated names replace the earlier item. Small objects find it by the usual scan; large ones remember
        // the names they hold, so that reading stays linear.
        std::unique_ptr<std::unordered_set<std::wstring>> seen;
        if (value.u.object.length > kScanLimit)
            seen = std::make_unique<std::unordered_set<std::wstring>>();
        for (const auto& member : value.u.object)
        {
            std::wstring name;
            if (!ToWide(member.name, member.name_length, name))
                return false;
            if (!Add(target, std::move(name), *member.value, depth, seen.get()))
                return false;
        }
        return true;
    }

private:
    static constexpr unsigned kScanLimit = 16;

    static bool Add(CMessageObject& target, std::wstring name, const json_value& value, unsigned depth,
                    std::unordered_set<std::wstring>* seen)
    {
        // Whether this item may replace one of the same name: never inside arrays, nor for object values.
        bool replace = !target.m_isArray && value.type != json_object;
        if (value.type == json_array && name.empty())
            replace = false;
        if (replace && seen && !seen->count(name))
            replace = false; // no earlier item has this name: skip the scan
        if (seen)
            seen->insert(name);

        CMessageItem item;
        switch (value.type)
        {
        case json_object:
        case json_array:
        {
            item.m_type = Object;
            item.m_value.object = new CMessageObject(name);
            item.m_value.object->m_isArray = value.type == json_array;
            item.m_name = std::move(name);
            if (!Fill(*item.m_value.object, value, depth + 1))
                return false;
            break;
        }
        case json_integer:
            item = CMessageItem::Int64(std::move(name), value.u.integer);
            break;
        case json_double:
            item = CMessageItem::Real(std::move(name), value.u.dbl);
            break;
        case json_string:
        {
            std::wstring text;
            if (!ToWide(value.u.string.ptr, value.u.string.length, text))
                return false;
            item = CMessageItem(std::move(name), std::move(text));
            break;
        }
        case json_boolean:
            item = CMessageItem(std::move(name), value.u.boolean != 0);
            break;
        case json_null:
            item = CMessageItem(std::move(name));
            break;
        default:
            return false;
        }
        target.AddItem(std::move(item), replace);
        return true;
    }

    // UTF-8 to UTF-16, ending at the first NUL. ASCII, by far the most common text, is widened directly;
    // anything else goes through the system's conversion.
    static bool ToWide(const char* text, unsigned length, std::wstring& out)
    {
        size_t n = 0;
        bool ascii = true;
        for (; n < length && text[n] != '\0'; ++n)
            ascii = ascii && static_cast<unsigned char>(text[n]) < 0x80;
        if (ascii)
        {
            out.assign(text, text + n);
            return true;
        }
        return BytesToWide(std::string(text, n), out, CP_UTF8);
    }
};

namespace
{
// json-parser accepts a comma before a closing bracket; JSON does not, and neither do we.
bool HasTrailingComma(const std::string& text)
{
    bool inString = false;
    bool escaped = false;
    char last = 0;
    for (const char c : text)
    {
        if (inString)
        {
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                inString = false;
            continue;
        }
        switch (c)
        {
        case ' ': case '\t': case '\r': case '\n': continue;
        case '"': inString = true; break;
        case '}': case ']': if (last == ',') return true; break;
        default: break;
        }
        last = c;
    }
    return false;
}
} // namespace

bool CMessageObject::FromUtf8Json(const std::string& text)
{
    json_settings settings = {};
    char error[json_error_max];
    std::unique_ptr<json_value, void (*)(json_value*)> tree(
        json_parse_ex(&settings, text.data(), text.size(), error), json_value_free);
    if (!tree || (tree->type != json_object && tree->type != json_array) || HasTrailingComma(text))
        return false;

    CMessageObject root;
    root.m_type = Object;
    root.m_isArray = tree->type == json_array;
    if (!CJsonReader::Fill(root, *tree, 1))
        return false;
    *this = std::move(root);
    return true;
}

bool CMessageObject::FromJson(const std::wstring& text)
{
    std::string utf8;
    return WideToBytes(text, utf8, CP_UTF8) && FromUtf8Json(utf8);
}
