#include "CTraceSession.h"

#include "platform/Files.h"
#include "platform/TextUtil.h"

#include <evntrace.h>

#include <cstdarg>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <utility>
#include <vector>

namespace devagent
{
namespace
{

struct Message
{
    int level = 0;
    std::string text;
    std::string place;
};

constexpr TRACEHANDLE kRegistration = 0x7E5E;
constexpr TRACEHANDLE kLogger = 0x7E57;

UCHAR g_level = 0;
ULONG g_flags = 0;
std::FILE* g_out = stdout;
std::map<std::pair<std::string, unsigned>, Message> g_table;
std::mutex g_printMutex;

std::string GuidText(const GUID& guid)
{
    char text[40];
    std::snprintf(text, sizeof(text), "%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool LoadTable(const std::wstring& path)
{
    std::string bytes;
    if (ReadWholeFile(path, bytes) != ERROR_SUCCESS)
        return false;
    std::istringstream file(bytes);
    std::string line;
    while (std::getline(file, line))
    {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        if (fields.size() != 6)
            continue;
        g_table[{fields[0], static_cast<unsigned>(std::stoul(fields[1]))}] =
            Message{std::stoi(fields[2]), fields[4], fields[5]};
    }
    return true;
}

struct Block
{
    const BYTE* data;
    std::size_t size;
};

std::uint64_t NumberOf(const Block& block)
{
    std::uint64_t value = 0;
    std::memcpy(&value, block.data, block.size < sizeof(value) ? block.size : sizeof(value));
    return value;
}

// The text as written in the source (with its C escapes), its placeholders filled from the blocks.
std::string Format(const std::string& text, const std::vector<Block>& blocks)
{
    std::string out;
    std::size_t next = 0;
    for (std::size_t at = 0; at < text.size(); ++at)
    {
        const char c = text[at];
        if (c == '\\' && at + 1 < text.size())
        {
            const char escaped = text[++at];
            out += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
            continue;
        }
        if (c != '%')
        {
            out += c;
            continue;
        }
        std::string directive = "%";
        for (++at; at < text.size() && std::strchr("-+ #0123456789", text[at]); ++at)
            directive += text[at];
        bool wide = false;   // %ls; for numbers the block's size says how wide they are
        for (; at < text.size() && (text[at] == 'l' || text[at] == 'z'); ++at)
            wide = wide || text[at] == 'l';
        if (at >= text.size())
            break;
        const char conversion = text[at];
        if (conversion == '%')
        {
            out += '%';
            continue;
        }
        if (next >= blocks.size())
        {
            out += "<missing>";
            continue;
        }
        const Block& block = blocks[next++];
        char cell[64];
        switch (conversion)
        {
        case 's':
            if (wide)
            {
                std::wstring value(reinterpret_cast<const wchar_t*>(block.data), block.size / sizeof(wchar_t));
                if (!value.empty() && value.back() == L'\0')
                    value.pop_back();
                out += WideToUtf8(value);
            }
            else
            {
                out.append(reinterpret_cast<const char*>(block.data), block.size);
                if (!out.empty() && out.back() == '\0')
                    out.pop_back();
            }
            break;
        case 'p':
            std::snprintf(cell, sizeof(cell), "0x%llx", static_cast<unsigned long long>(NumberOf(block)));
            out += cell;
            break;
        case 'd':
        case 'i':
        {
            const std::uint64_t raw = NumberOf(block);
            const long long value = block.size == 4 ? static_cast<std::int32_t>(raw) : static_cast<long long>(raw);
            std::snprintf(cell, sizeof(cell), (directive + "lld").c_str(), value);
            out += cell;
            break;
        }
        default:   // u x X
            std::snprintf(cell, sizeof(cell), (directive + "ll" + conversion).c_str(),
                          static_cast<unsigned long long>(NumberOf(block)));
            out += cell;
            break;
        }
    }
    return out;
}

void Print(const GUID& unit, USHORT number, const std::vector<Block>& blocks)
{
    static const char* const kLevels[] = {"?", "?", "error", "warning", "info", "verbose"};
    const auto found = g_table.find({GuidText(unit), number});
    std::string line;
    if (found == g_table.end())
        line = "[trace] message " + std::to_string(number) + " of " + GuidText(unit) + " (not in the table)";
    else
    {
        const Message& message = found->second;
        line = std::string("[trace] ") + kLevels[message.level >= 2 && message.level <= 5 ? message.level : 0] +
               " " + Format(message.text, blocks) + "  (" + message.place + ")";
    }
    const std::lock_guard<std::mutex> lock(g_printMutex);
    std::fprintf(g_out, "%s\n", line.c_str());
    std::fflush(g_out);
}

ULONG WINAPI SessionTraceMessageVa(TRACEHANDLE, ULONG, LPCGUID unit, USHORT number, va_list args)
{
    std::vector<Block> blocks;
    while (const void* address = va_arg(args, const void*))
    {
        const std::size_t size = va_arg(args, std::size_t);
        blocks.push_back(Block{static_cast<const BYTE*>(address), size});
    }
    Print(*unit, number, blocks);
    return ERROR_SUCCESS;
}

ULONG __cdecl SessionTraceMessage(TRACEHANDLE logger, ULONG flags, LPCGUID unit, USHORT number, ...)
{
    va_list args;
    va_start(args, number);
    const ULONG result = SessionTraceMessageVa(logger, flags, unit, number, args);
    va_end(args);
    return result;
}

ULONG WINAPI SessionRegister(WMIDPREQUEST callback, PVOID context, LPCGUID, ULONG, PTRACE_GUID_REGISTRATION,
                             LPCWSTR, LPCWSTR, PTRACEHANDLE registration)
{
    *registration = kRegistration;
    // A session that is already running enables a provider as it registers.
    ULONG size = 0;
    TRACEHANDLE buffer = kLogger;
    callback(WMI_ENABLE_EVENTS, context, &size, &buffer);
    return ERROR_SUCCESS;
}

ULONG WINAPI SessionUnregister(TRACEHANDLE)
{
    return ERROR_SUCCESS;
}

TRACEHANDLE WINAPI SessionLoggerHandle(PVOID)
{
    return kLogger;
}

UCHAR WINAPI SessionLevel(TRACEHANDLE)
{
    return g_level;
}

ULONG WINAPI SessionFlags(TRACEHANDLE)
{
    return g_flags;
}

// Puts a jump to replacement at the start of target. Functions start 16 bytes apart at least, and the
// original is never called again, so overwriting its first bytes is enough.
bool Redirect(const char* name, void* replacement)
{
    const HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
    auto* target = reinterpret_cast<BYTE*>(::GetProcAddress(advapi, name));
    if (target == nullptr)
        return false;
#if defined(__x86_64__)
    BYTE code[12] = {0x48, 0xB8};   // mov rax, replacement; jmp rax
    const auto address = reinterpret_cast<std::uint64_t>(replacement);
    std::memcpy(code + 2, &address, sizeof(address));
    code[10] = 0xFF;
    code[11] = 0xE0;
#else
    BYTE code[5] = {0xE9};   // jmp rel32
    const auto offset = reinterpret_cast<std::uintptr_t>(replacement) - reinterpret_cast<std::uintptr_t>(target + 5);
    std::memcpy(code + 1, &offset, sizeof(offset));
#endif
    DWORD protection = 0;
    if (!::VirtualProtect(target, sizeof(code), PAGE_EXECUTE_READWRITE, &protection))
        return false;
    std::memcpy(target, code, sizeof(code));
    ::VirtualProtect(target, sizeof(code), protection, &protection);
    ::FlushInstructionCache(::GetCurrentProcess(), target, sizeof(code));
    return true;
}

} // namespace

bool StartTraceSession(UCHAR level, ULONG flags, const std::wstring& tablePath, std::FILE* out)
{
    if (!LoadTable(tablePath))
    {
        std::fprintf(stderr, "cannot read the trace decode table %ls\n", tablePath.c_str());
        return false;
    }
    g_level = level;
    g_flags = flags;
    g_out = out;
    const std::pair<const char*, void*> replacements[] = {
        {"RegisterTraceGuidsW", reinterpret_cast<void*>(SessionRegister)},
        {"UnregisterTraceGuids", reinterpret_cast<void*>(SessionUnregister)},
        {"GetTraceLoggerHandle", reinterpret_cast<void*>(SessionLoggerHandle)},
        {"GetTraceEnableLevel", reinterpret_cast<void*>(SessionLevel)},
        {"GetTraceEnableFlags", reinterpret_cast<void*>(SessionFlags)},
        {"TraceMessageVa", reinterpret_cast<void*>(SessionTraceMessageVa)},
        {"TraceMessage", reinterpret_cast<void*>(SessionTraceMessage)},
    };
    for (const auto& [name, replacement] : replacements)
    {
        if (!Redirect(name, replacement))
        {
            std::fprintf(stderr, "cannot take the place of %s\n", name);
            return false;
        }
    }
    return true;
}

} // namespace devagent
