#pragma once
// Trace points. Each source unit names its message GUID once, then emits numbered messages:
//
//     TRACE_UNIT("0244800d-fde3-4e18-b4dd-b2a6c0af4fe2");
//     ...
//     TRACE_ERROR(kTraceFlagEvents, 12, "cannot open %ls: error %u", path, error);
//
// A message is known by (unit GUID, number); numbers start at 10 and never change meaning, since trace
// consumers decode by them. The text stays beside the call as a single literal: the build collects the texts
// into its decode table (trace-messages.tsv), and the compiler checks every argument against its
// placeholder (%d %u %x of 32-bit values, %lld %llu %llx of 64-bit ones, %zu of size_t, %p of pointers,
// %ls of wide texts, %s of narrow ones).
//
// A trace point whose level and flag the enabling session has not asked for costs two relaxed loads: its
// arguments are not even evaluated.

#include "platform/Win.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

enum : UCHAR
{
    kTraceLevelError = 2,
    kTraceLevelWarning = 3,
    kTraceLevelInformation = 4,
    kTraceLevelVerbose = 5,
};

enum : ULONG
{
    kTraceFlagGeneral = 1,       // plug-in list, loaders, component wrappers, the provider itself
    kTraceFlagCompression = 2,   // compression helper
    kTraceFlagEvents = 4,        // configuration, dispatcher and logging access; event processing
};

#define TRACE_UNIT(guid)                                                                                      \
    namespace                                                                                                 \
    {                                                                                                         \
    constexpr GUID kTraceUnit = ::trace::ParseGuid(guid);                                                     \
    }                                                                                                         \
    static_assert(true, "")

#define TRACE_ERROR(flag, number, text, ...) TRACE_AT_LEVEL(kTraceLevelError, flag, number, text, __VA_ARGS__)
#define TRACE_WARNING(flag, number, text, ...) TRACE_AT_LEVEL(kTraceLevelWarning, flag, number, text, __VA_ARGS__)
#define TRACE_INFO(flag, number, text, ...)                                                                   \
    TRACE_AT_LEVEL(kTraceLevelInformation, flag, number, text, __VA_ARGS__)
#define TRACE_VERBOSE(flag, number, text, ...) TRACE_AT_LEVEL(kTraceLevelVerbose, flag, number, text, __VA_ARGS__)

#define TRACE_AT_LEVEL(level, flag, number, text, ...)                                                        \
    do                                                                                                        \
    {                                                                                                         \
        static_assert((number) >= 10 && (number) <= 0xFFFF, "trace message numbers run from 10 to 65535");    \
        static_assert(::trace::FormatMatches(text, decltype(::trace::KindsOf(__VA_ARGS__)){}),                \
                      "trace arguments do not match the placeholders of the text");                           \
        if (::trace::IsEnabled(level, flag))                                                                  \
            ::trace::Emit(level, kTraceUnit, number __VA_OPT__(, ) __VA_ARGS__);                              \
    } while (false)

namespace trace
{

// Written by the enable callback, read by every trace point, both without a lock: a trace point that races
// with a session change sends or skips one message at worst.
struct ProviderState
{
    std::atomic<std::uint64_t> logger{0};
    std::atomic<UCHAR> level{0};
    std::atomic<ULONG> flags{0};
};
extern ProviderState g_state;

[[nodiscard]] inline bool IsEnabled(UCHAR level, ULONG flag)
{
    return (g_state.flags.load(std::memory_order_relaxed) & flag) != 0 &&
           g_state.level.load(std::memory_order_relaxed) >= level;
}

// Sends one message: its arguments follow as (const void* address, size_t size) pairs ended by a null
// address. Defined with the provider.
void Send(UCHAR level, const GUID* unit, ULONG number, ...);

constexpr int HexDigit(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx". A malformed text is not a constant expression, so it fails to compile.
constexpr GUID ParseGuid(const char (&text)[37])
{
    std::uint64_t parts[11] = {};
    const int widths[11] = {8, 4, 4, 2, 2, 2, 2, 2, 2, 2, 2};
    int at = 0;
    for (int part = 0; part < 11; ++part)
    {
        if (at == 8 || at == 13 || at == 18 || at == 23)
        {
            if (text[at] != '-')
                throw "malformed GUID";
            ++at;
        }
        for (int i = 0; i < widths[part]; ++i, ++at)
        {
            const int digit = HexDigit(text[at]);
            if (digit < 0)
                throw "malformed GUID";
            parts[part] = parts[part] << 4 | static_cast<std::uint64_t>(digit);
        }
    }
    return GUID{static_cast<unsigned long>(parts[0]), static_cast<unsigned short>(parts[1]),
                static_cast<unsigned short>(parts[2]),
                {static_cast<unsigned char>(parts[3]), static_cast<unsigned char>(parts[4]),
                 static_cast<unsigned char>(parts[5]), static_cast<unsigned char>(parts[6]),
                 static_cast<unsigned char>(parts[7]), static_cast<unsigned char>(parts[8]),
                 static_cast<unsigned char>(parts[9]), static_cast<unsigned char>(parts[10])}};
}

enum class ArgKind
{
    Int32,
    Int64,
    Pointer,
    Wide,
    Narrow,
};

template <typename T>
constexpr bool kUnsupported = false;

template <typename T>
constexpr ArgKind KindOf()
{
    using D = std::decay_t<T>;
    if constexpr (std::is_same_v<D, std::wstring> || std::is_same_v<D, const wchar_t*> || std::is_same_v<D, wchar_t*>)
        return ArgKind::Wide;
    else if constexpr (std::is_same_v<D, std::string> || std::is_same_v<D, const char*> || std::is_same_v<D, char*>)
        return ArgKind::Narrow;
    else if constexpr (std::is_pointer_v<D> || std::is_null_pointer_v<D>)
        return ArgKind::Pointer;
    else if constexpr ((std::is_integral_v<D> || std::is_enum_v<D>) && sizeof(D) <= 4)
        return ArgKind::Int32;
    else if constexpr ((std::is_integral_v<D> || std::is_enum_v<D>) && sizeof(D) == 8)
        return ArgKind::Int64;
    else
        static_assert(kUnsupported<T>, "a trace argument is a number, a pointer or a text");
}

template <ArgKind... Kinds>
struct KindList
{
};

// Only ever named in decltype: the arguments are not evaluated.
template <typename... A>
KindList<KindOf<A>()...> KindsOf(const A&...);

constexpr bool FormatMatches(const char* text, const ArgKind* kinds, std::size_t count)
{
    std::size_t used = 0;
    for (const char* at = text; *at != '\0'; ++at)
    {
        if (*at != '%')
            continue;
        ++at;
        if (*at == '%')
            continue;
        while (*at == '-' || *at == '+' || *at == ' ' || *at == '#' || *at == '0')
            ++at;
        while (*at >= '0' && *at <= '9')
            ++at;
        ArgKind integer = ArgKind::Int32;
        bool wide = false;
        if (at[0] == 'l' && at[1] == 'l')
        {
            integer = ArgKind::Int64;
            at += 2;
        }
        else if (at[0] == 'z')
        {
            integer = sizeof(void*) == 8 ? ArgKind::Int64 : ArgKind::Int32;
            ++at;
        }
        else if (at[0] == 'l')
        {
            wide = true;   // %ls; %lu and %ld are 32-bit on Windows
            ++at;
        }
        ArgKind kind = integer;
        switch (*at)
        {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X':
            break;
        case 'p':
            kind = ArgKind::Pointer;
            break;
        case 's':
            kind = wide ? ArgKind::Wide : ArgKind::Narrow;
            break;
        default:
            return false;
        }
        if (used == count || kinds[used] != kind)
            return false;
        ++used;
    }
    return used == count;
}

template <ArgKind... Kinds>
constexpr bool FormatMatches(const char* text, KindList<Kinds...>)
{
    constexpr ArgKind kinds[] = {Kinds..., ArgKind::Int32};
    return FormatMatches(text, kinds, sizeof...(Kinds));
}

// One argument as it travels: numbers by value, texts in place with their terminator.
class Arg
{
public:
    template <typename T>
    explicit Arg(const T& value)
    {
        constexpr ArgKind kind = KindOf<T>();
        if constexpr (kind == ArgKind::Wide)
            SetWide(TextOf(value));
        else if constexpr (kind == ArgKind::Narrow)
            SetNarrow(TextOf(value));
        else if constexpr (kind == ArgKind::Pointer)
            SetNumber(reinterpret_cast<std::uintptr_t>(static_cast<const void*>(value)), sizeof(void*));
        else
            SetNumber(static_cast<std::uint64_t>(value), kind == ArgKind::Int64 ? 8 : 4);
    }

    Arg(const Arg&) = delete;
    Arg& operator=(const Arg&) = delete;

    const void* Address() const { return m_text != nullptr ? m_text : static_cast<const void*>(&m_number); }
    std::size_t Size() const { return m_size; }

private:
    static const wchar_t* TextOf(const std::wstring& text) { return text.c_str(); }
    static const wchar_t* TextOf(const wchar_t* text) { return text; }
    static const char* TextOf(const std::string& text) { return text.c_str(); }
    static const char* TextOf(const char* text) { return text; }

    void SetWide(const wchar_t* text)
    {
        if (text == nullptr)
            text = L"NULL";
        else if (*text == L'\0')
            text = L"<NULL>";
        m_text = text;
        m_size = (std::wcslen(text) + 1) * sizeof(wchar_t);
    }
    void SetNarrow(const char* text)
    {
        if (text == nullptr)
            text = "NULL";
        m_text = text;
        m_size = std::strlen(text) + 1;
    }
    // Little-endian: the low bytes of m_number come first.
    void SetNumber(std::uint64_t value, std::size_t size)
    {
        m_number = value;
        m_size = size;
    }

    const void* m_text = nullptr;
    std::uint64_t m_number = 0;
    std::size_t m_size = 0;
};

template <std::size_t I>
auto Piece(const Arg* args)
{
    if constexpr (I % 2 == 0)
        return args[I / 2].Address();
    else
        return args[I / 2].Size();
}

template <std::size_t... I>
void SendArgs(UCHAR level, const GUID& unit, ULONG number, const Arg* args, std::index_sequence<I...>)
{
    Send(level, &unit, number, Piece<I>(args)..., static_cast<const void*>(nullptr));
}

template <typename... A>
void Emit(UCHAR level, const GUID& unit, ULONG number, const A&... values)
{
    if constexpr (sizeof...(A) == 0)
    {
        Send(level, &unit, number, static_cast<const void*>(nullptr));
    }
    else
    {
        const Arg args[] = {Arg(values)...};
        SendArgs(level, unit, number, args, std::make_index_sequence<2 * sizeof...(A)>{});
    }
}

} // namespace trace
