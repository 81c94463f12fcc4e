#include "Fuzz.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string_view>
#include <type_traits>

namespace
{
constexpr int kDefaultInputs = 2000;
constexpr int kFaultsShown = 5;
constexpr size_t kLongRun = 100000;

size_t Pick(std::mt19937& random, size_t count) // 0 .. count-1; count > 0
{
    return std::uniform_int_distribution<size_t>(0, count - 1)(random);
}

size_t At(std::mt19937& random, size_t size) // 0 .. size, a place to insert
{
    return std::uniform_int_distribution<size_t>(0, size)(random);
}

// Bytes as \xNN, UTF-16 units as \uNNNN; cut after about 400 characters.
template <typename Text>
std::string Printable(const Text& text, const char* escape, const char* units)
{
    std::string out;
    for (size_t i = 0; i < text.size() && out.size() < 400; ++i)
    {
        const unsigned c = static_cast<std::make_unsigned_t<typename Text::value_type>>(text[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\')
            out += static_cast<char>(c);
        else
        {
            char escaped[10];
            std::snprintf(escaped, sizeof escaped, escape, c);
            out += escaped;
        }
    }
    if (out.size() >= 400)
        out += "... (" + std::to_string(text.size()) + " " + units + ")";
    return out;
}

// Removes a run of one to eight elements, where there are any.
template <typename Text>
void EraseRun(Text& text, std::mt19937& random)
{
    if (text.empty())
        return;
    const size_t at = Pick(random, text.size());
    text.erase(at, 1 + Pick(random, std::min<size_t>(8, text.size() - at)));
}

const char* const kBadUtf8[] = {"\xc3", "\xff", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xc0\xaf", "\x80", "\xef\xbb\xbf"};

// JSON values that readers get wrong: every type, numbers at and past the limits of each width, texts
// empty, huge, with NUL, with lone surrogates, and paths that try to leave their folder.
const std::vector<std::string>& Replacements()
{
    // Separated by blanks.
    static const char kValues[] = R"json(
null true false 0 -1 1 -0 0.5 -2.5e-300 1e308 -1e309 127 128 255 256 32767 32768 65535 65536
2147483647 2147483648 -2147483648 -2147483649 4294967295 4294967296 9223372036854775807
9223372036854775808 -9223372036854775809 18446744073709551616 1e99999 1e-400 "" "\u0020" "0" "-1"
"true" "\u0000" "a\u0000b" "\ud800" "x\udc00" "\ud83d\ude00" "\u00e9\u20ac" "..\\..\\x" "../../x"
"C:\\Windows\\x" "\\\\server\\share\\x" "\\\\?\\C:\\x" "CON" "nul.txt" "%s%n%x"
"http://127.0.0.1:1/x" "https://[::1]:99999/x?y#z" "a:b" "\r\n" [] {} [null] [1,"a",{}] {"":1}
{"a":{"b":[]}})json";
    static const std::vector<std::string> values = [] {
        std::vector<std::string> all;
        std::istringstream values(kValues);
        for (std::string value; values >> value;)
            all.push_back(value);
        all.push_back("\"" + std::string(kLongRun, 'a') + "\"");
        all.push_back("\"" + std::string(kLongRun, '\\') + "\""); // escaped backslashes, an even run
        return all;
    }();
    return values;
}

struct Span
{
    size_t begin, end;
};

// Where the values and the members ("name": value) of a JSON text are; enough of JSON to mutate it by
// its structure, not a reader.
class CJsonShape
{
public:
    explicit CJsonShape(const std::string& text) : m_text(text)
    {
        m_valid = Value(0) && (Blank(), m_at == text.size());
    }

    bool Valid() const { return m_valid; }
    const std::vector<Span>& Values() const { return m_values; }
    const std::vector<Span>& Members() const { return m_members; }

private:
    char Peek() const { return m_at < m_text.size() ? m_text[m_at] : '\0'; }

    void Blank()
    {
        while (Peek() == ' ' || Peek() == '\t' || Peek() == '\r' || Peek() == '\n')
            ++m_at;
    }

    bool String()
    {
        if (Peek() != '"')
            return false;
        for (++m_at; m_at < m_text.size() && m_text[m_at] != '"'; ++m_at)
            m_at += m_text[m_at] == '\\' ? 1 : 0;
        if (m_at >= m_text.size())
            return false;
        ++m_at;
        return true;
    }

    bool Container(char close, bool named, int depth)
    {
        ++m_at;
        Blank();
        if (Peek() == close)
        {
            ++m_at;
            return true;
        }
        for (;;)
        {
            Blank();
            const size_t begin = m_at;
            if (named)
            {
                if (!String())
                    return false;
                Blank();
                if (Peek() != ':')
                    return false;
                ++m_at;
            }
            if (!Value(depth + 1))
                return false;
            if (named)
                m_members.push_back({begin, m_at});
            Blank();
            if (Peek() == close)
            {
                ++m_at;
                return true;
            }
            if (Peek() != ',')
                return false;
            ++m_at;
        }
    }

    bool Value(int depth)
    {
        Blank();
        const size_t begin = m_at;
        const char c = Peek();
        bool ok;
        if (depth > 64)
            ok = false;
        else if (c == '{' || c == '[')
            ok = Container(c == '{' ? '}' : ']', c == '{', depth);
        else if (c == '"')
            ok = String();
        else
        {
            while (m_at < m_text.size() && std::string_view(",]} \t\r\n").find(m_text[m_at]) == std::string_view::npos)
                ++m_at;
            ok = m_at > begin;
        }
        if (ok)
            m_values.push_back({begin, m_at});
        return ok;
    }

    const std::string& m_text;
    size_t m_at = 0;
    bool m_valid = false;
    std::vector<Span> m_values;
    std::vector<Span> m_members;
};

// One change that keeps the text JSON when it was.
std::string MutateStructure(std::string json, std::mt19937& random)
{
    const CJsonShape shape(json);
    if (!shape.Valid() || shape.Values().empty())
        return MutateBytes(std::move(json), random);
    const auto& values = shape.Values();
    const auto& members = shape.Members();
    switch (random() % 6)
    {
    case 0:
    case 1: // a value of another type or at a limit
    {
        const Span v = values[Pick(random, values.size())];
        const auto& replacements = Replacements();
        json.replace(v.begin, v.end - v.begin, replacements[Pick(random, replacements.size())]);
        break;
    }
    case 2: // a missing member
        if (!members.empty())
        {
            // With the comma after it, else the one before it.
            const Span m = members[Pick(random, members.size())];
            const size_t after = json.find_first_not_of(" \n", m.end);
            const size_t before = m.begin > 0 ? json.find_last_not_of(" \n", m.begin - 1) : std::string::npos;
            if (after != std::string::npos && json[after] == ',')
                json.erase(m.begin, after + 1 - m.begin);
            else
            {
                const size_t begin = before == std::string::npos ? 0 : json[before] == ',' ? before : before + 1;
                json.erase(begin, m.end - begin);
            }
        }
        break;
    case 3: // a duplicated member, the copy first or last
        if (!members.empty())
        {
            const Span m = members[Pick(random, members.size())];
            const std::string member = json.substr(m.begin, m.end - m.begin);
            if (random() % 2)
                json.insert(m.end, "," + member);
            else
                json.insert(m.begin, member + ",");
        }
        break;
    case 4: // a value nested deep
    {
        const Span v = values[Pick(random, values.size())];
        const size_t depth = 1 + Pick(random, random() % 4 ? 40 : 3000);
        const bool object = random() % 2;
        std::string open, close;
        for (size_t i = 0; i < depth; ++i)
        {
            open += object ? "{\"a\":" : "[";
            close += object ? "}" : "]";
        }
        json.insert(v.end, close);
        json.insert(v.begin, open);
        break;
    }
    default: // a text value turned into the number it spells, or the other way round
    {
        const Span v = values[Pick(random, values.size())];
        const std::string value = json.substr(v.begin, v.end - v.begin);
        if (value.size() >= 2 && value.front() == '"')
            json.replace(v.begin, v.end - v.begin, value.size() > 2 ? value.substr(1, value.size() - 2) : "0");
        else if (value.front() != '{' && value.front() != '[')
            json.replace(v.begin, v.end - v.begin, "\"" + value + "\"");
        break;
    }
    }
    return json;
}
} // namespace

std::string Printable(const std::wstring& text)
{
    return Printable(text, "\\u%04x", "characters");
}

std::string MutateBytes(std::string bytes, std::mt19937& random)
{
    switch (random() % 10)
    {
    case 0: // truncated
        bytes.resize(At(random, bytes.size()));
        break;
    case 1: // flipped bits
        for (int n = 1 + random() % 3; n > 0 && !bytes.empty(); --n)
            bytes[Pick(random, bytes.size())] ^= static_cast<char>(1 << (random() % 8));
        break;
    case 2: // inserted punctuation
        for (int n = 1 + random() % 4; n > 0; --n)
            bytes.insert(At(random, bytes.size()), 1, "[]{}\",:\\/%.\n\r "[random() % 15]);
        break;
    case 3: // invalid UTF-8, a byte-order mark
        bytes.insert(At(random, bytes.size()), kBadUtf8[Pick(random, std::size(kBadUtf8))]);
        break;
    case 4: // removed bytes
        EraseRun(bytes, random);
        break;
    case 5: // a repeated slice
        if (!bytes.empty())
        {
            const size_t at = Pick(random, bytes.size());
            const std::string slice = bytes.substr(at, 1 + Pick(random, 16));
            for (int n = 1 + random() % 3; n > 0; --n)
                bytes.insert(at, slice);
        }
        break;
    case 6: // a very long run
        bytes.insert(At(random, bytes.size()), std::string(1 + Pick(random, kLongRun), "a0 \\\xff"[random() % 5]));
        break;
    case 7: // random bytes
        for (int n = 1 + random() % 8; n > 0 && !bytes.empty(); --n)
            bytes[Pick(random, bytes.size())] = static_cast<char>(random());
        break;
    case 8: // nothing at all, or a single byte
        bytes = random() % 2 ? std::string() : std::string(1, static_cast<char>(random()));
        break;
    default: // NUL
        bytes.insert(At(random, bytes.size()), 1, '\0');
        break;
    }
    return bytes;
}

std::string MutateJson(std::string json, std::mt19937& random)
{
    for (int n = 1 + random() % 3; n > 0; --n)
        json = random() % 4 ? MutateStructure(std::move(json), random) : MutateBytes(std::move(json), random);
    return json;
}

std::wstring MutateText(std::wstring text, std::mt19937& random)
{
    static const wchar_t kAwkward[] = {L'\0', 0xd800, 0xdc00, 0xfffe, 0xffff, 0x7f, 0x1f, L'\\', L'/', L':', L'%',
                                       L'?',  L'#',   L'@',   L'.',   L' ',   L'*', L'"', L'<',  L'|', 0xe9, 0x20ac};
    static const wchar_t* const kParts[] = {L"..",     L"..\\",    L"../",      L"\\\\?\\",   L"\\\\server\\share\\",
                                            L"C:\\",   L"CON",     L"nul.txt",  L"%2e%2e%2f", L"%00",
                                            L"%",      L"http://", L"https://", L"::",        L"[::1]",
                                            L":99999", L":-1",     L"@",        L"//"};
    for (int n = 1 + random() % 2; n > 0; --n)
        switch (random() % 8)
        {
        case 0: text.resize(At(random, text.size())); break;
        case 1:
        case 2:
            for (int k = 1 + random() % 3; k > 0; --k)
                text.insert(At(random, text.size()), 1, kAwkward[Pick(random, std::size(kAwkward))]);
            break;
        case 3: text.insert(At(random, text.size()), kParts[Pick(random, std::size(kParts))]); break;
        case 4: EraseRun(text, random); break;
        case 5:
            text.insert(At(random, text.size()), std::wstring(1 + Pick(random, kLongRun), L"a/\\.%"[random() % 5]));
            break;
        case 6:
            for (int k = 1 + random() % 4; k > 0 && !text.empty(); --k)
                text[Pick(random, text.size())] = static_cast<wchar_t>(random() & 0xffff);
            break;
        default:
            text = random() % 2 ? std::wstring() : std::wstring(1, kAwkward[Pick(random, std::size(kAwkward))]);
            break;
        }
    return text;
}

CFuzzRun::CFuzzRun(std::string reader, int slowness, std::uint32_t seed) : m_reader(std::move(reader)), m_random(seed)
{
    const char* asked = std::getenv("TELEMETRY_FUZZ_INPUTS");
    const int inputs = asked != nullptr ? std::atoi(asked) : 0;
    m_inputs = std::max(1, (inputs > 0 ? inputs : kDefaultInputs) / std::max(1, slowness));
}

CFuzzRun::~CFuzzRun()
{
    std::printf("fuzz %s: %d inputs, %zu distinct outcomes, %d faults\n", m_reader.c_str(), m_inputs, m_outcomes.size(),
                m_faults);
    std::fflush(stdout);
}

std::string CFuzzRun::Json(const std::vector<std::string>& seeds)
{
    std::string input = MutateJson(seeds[Pick(m_random, seeds.size())], m_random);
    m_input = Printable(input, "\\x%02x", "bytes");
    return input;
}

std::string CFuzzRun::Bytes(const std::vector<std::string>& seeds)
{
    std::string input = seeds[Pick(m_random, seeds.size())];
    for (int n = 1 + m_random() % 3; n > 0; --n)
        input = MutateBytes(std::move(input), m_random);
    m_input = Printable(input, "\\x%02x", "bytes");
    return input;
}

std::wstring CFuzzRun::Text(const std::vector<std::wstring>& seeds)
{
    std::wstring input = MutateText(seeds[Pick(m_random, seeds.size())], m_random);
    m_input = Printable(input);
    return input;
}

void CFuzzRun::Fault(const std::string& what)
{
    if (++m_faults <= kFaultsShown)
        ADD_FAILURE() << m_reader << ": " << what << "\ninput: " << m_input;
    else if (m_faults == kFaultsShown + 1)
        ADD_FAILURE() << m_reader << ": more faults follow, not shown";
}

bool CFuzzRun::Expect(bool holds, const std::string& what)
{
    if (!holds)
        Fault(what);
    return holds;
}

void CFuzzRun::ExpectClean(size_t outcomes) const
{
    EXPECT_EQ(m_faults, 0) << m_reader;
    EXPECT_GE(m_outcomes.size(), outcomes) << m_reader;
}
