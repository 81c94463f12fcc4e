#include "TraceCapture.h"

#include <algorithm>
#include <cstring>

namespace
{

constexpr TRACEHANDLE kRegistration = 0x5EED;
constexpr TRACEHANDLE kLogger = 0x10660;

struct Session
{
    UCHAR level = 0;
    ULONG flags = 0;
    GUID control{};
    int registrations = 0;
    int unregistrations = 0;
    std::vector<CapturedTrace> messages;
} g_session;

ULONG WINAPI FakeRegister(WMIDPREQUEST callback, PVOID context, LPCGUID control, ULONG, PTRACE_GUID_REGISTRATION,
                          LPCWSTR, LPCWSTR, PTRACEHANDLE registration)
{
    g_session.control = *control;
    ++g_session.registrations;
    *registration = kRegistration;
    // Windows enables a provider during registration when a session already wants it.
    ULONG size = 0;
    if (g_session.level != 0)
        callback(WMI_ENABLE_EVENTS, context, &size, &g_session);
    return ERROR_SUCCESS;
}

ULONG WINAPI FakeUnregister(TRACEHANDLE registration)
{
    g_session.unregistrations += registration == kRegistration;
    return ERROR_SUCCESS;
}

TRACEHANDLE WINAPI FakeLoggerHandle(PVOID buffer) { return buffer == &g_session ? kLogger : 0; }
UCHAR WINAPI FakeEnableLevel(TRACEHANDLE logger) { return logger == kLogger ? g_session.level : 0; }
ULONG WINAPI FakeEnableFlags(TRACEHANDLE logger) { return logger == kLogger ? g_session.flags : 0; }

ULONG WINAPI FakeTraceMessageVa(TRACEHANDLE logger, ULONG flags, LPCGUID unit, USHORT number, va_list args)
{
    CapturedTrace& message = g_session.messages.emplace_back();
    message.logger = logger;
    message.messageFlags = flags;
    message.unit = *unit;
    message.number = number;
    while (const void* address = va_arg(args, const void*))
    {
        const BYTE* bytes = static_cast<const BYTE*>(address);
        message.args.emplace_back(bytes, bytes + va_arg(args, std::size_t));
    }
    return ERROR_SUCCESS;
}

ULONG WINAPI FakeTraceEvent(TRACEHANDLE logger, PEVENT_TRACE_HEADER header)
{
    CapturedTrace& message = g_session.messages.emplace_back();
    message.logger = logger;
    message.header = *header;
    message.unit = header->Guid;
    message.number = header->Class.Version;
    const auto* fields = reinterpret_cast<const MOF_FIELD*>(header + 1);
    for (std::size_t i = 0; i < (header->Size - sizeof(EVENT_TRACE_HEADER)) / sizeof(MOF_FIELD); ++i)
    {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(static_cast<std::uintptr_t>(fields[i].DataPtr));
        message.args.emplace_back(bytes, bytes + fields[i].Length);
    }
    return ERROR_SUCCESS;
}

// The bytes as text of Char, without a terminator.
template <typename Char>
std::basic_string<Char> Text(const std::vector<BYTE>& bytes)
{
    std::basic_string<Char> text(bytes.size() / sizeof(Char), Char{});
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(Char));
    if (!text.empty() && text.back() == Char{})
        text.pop_back();
    return text;
}

} // namespace

std::wstring CapturedTrace::Wide(std::size_t i) const { return Text<wchar_t>(args.at(i)); }
std::string CapturedTrace::Narrow(std::size_t i) const { return Text<char>(args.at(i)); }

std::uint64_t CapturedTrace::Number(std::size_t i) const
{
    const auto& bytes = args.at(i);
    std::uint64_t value = 0;
    std::memcpy(&value, bytes.data(), std::min(bytes.size(), sizeof(value)));
    return value;
}

CTraceCapture::CTraceCapture(Route route, UCHAR level, ULONG flags, HMODULE module) : m_module(module)
{
    g_session = Session{};
    g_session.level = level;
    g_session.flags = flags;
    const auto findFake = [] { return TraceMessageVaFn{FakeTraceMessageVa}; };
    const auto findNone = [] { return TraceMessageVaFn{}; };
    m_previous = SetTraceApi(TraceApi{FakeRegister, FakeUnregister, FakeLoggerHandle, FakeEnableLevel, FakeEnableFlags,
                                      FakeTraceEvent, route == Route::TraceMessage ? +findFake : +findNone});
    TraceProviderStart(m_module);
}

CTraceCapture::~CTraceCapture()
{
    Stop();
    SetTraceApi(m_previous);
    g_session = Session{};
}

void CTraceCapture::Stop()
{
    if (!m_stopped)
        TraceProviderStop(m_module);
    m_stopped = true;
}

ULONG CTraceCapture::Enable(UCHAR level, ULONG flags)
{
    g_session.level = level;
    g_session.flags = flags;
    return Request(WMI_ENABLE_EVENTS);
}

ULONG CTraceCapture::Disable() { return Request(WMI_DISABLE_EVENTS); }

ULONG CTraceCapture::Request(WMIDPREQUESTCODE code)
{
    ULONG size = 0;
    return TraceControlCallback(code, nullptr, &size, &g_session);
}

std::size_t CTraceCapture::Count(const GUID& unit, ULONG number) const
{
    return static_cast<std::size_t>(
        std::count_if(g_session.messages.begin(), g_session.messages.end(), [&](const CapturedTrace& message) {
            return IsEqualGUID(message.unit, unit) && message.number == number;
        }));
}

const std::vector<CapturedTrace>& CTraceCapture::Messages() const { return g_session.messages; }
void CTraceCapture::Clear() { g_session.messages.clear(); }
const GUID& CTraceCapture::RegisteredControl() const { return g_session.control; }
int CTraceCapture::Registrations() const { return g_session.registrations; }
int CTraceCapture::Unregistrations() const { return g_session.unregistrations; }
