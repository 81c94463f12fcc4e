#include "TraceCapture.h"

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
    if (g_session.level != 0)
    {
        ULONG size = 0;
        callback(WMI_ENABLE_EVENTS, context, &size, &g_session);
    }
    return ERROR_SUCCESS;
}

ULONG WINAPI FakeUnregister(TRACEHANDLE registration)
{
    if (registration == kRegistration)
        ++g_session.unregistrations;
    return ERROR_SUCCESS;
}

TRACEHANDLE WINAPI FakeLoggerHandle(PVOID buffer)
{
    return buffer == &g_session ? kLogger : 0;
}

UCHAR WINAPI FakeEnableLevel(TRACEHANDLE logger)
{
    return logger == kLogger ? g_session.level : 0;
}

ULONG WINAPI FakeEnableFlags(TRACEHANDLE logger)
{
    return logger == kLogger ? g_session.flags : 0;
}

ULONG WINAPI FakeTraceMessageVa(TRACEHANDLE logger, ULONG flags, LPCGUID unit, USHORT number, va_list args)
{
    CapturedTrace message;
    message.logger = logger;
    message.messageFlags = flags;
    message.unit = *unit;
    message.number = number;
    while (const void* address = va_arg(args, const void*))
    {
        const std::size_t size = va_arg(args, std::size_t);
        const BYTE* bytes = static_cast<const BYTE*>(address);
        message.args.emplace_back(bytes, bytes + size);
    }
    g_session.messages.push_back(std::move(message));
    return ERROR_SUCCESS;
}

ULONG WINAPI FakeTraceEvent(TRACEHANDLE logger, PEVENT_TRACE_HEADER header)
{
    CapturedTrace message;
    message.logger = logger;
    message.header = *header;
    message.unit = header->Guid;
    message.number = header->Class.Version;
    const auto* fields = reinterpret_cast<const MOF_FIELD*>(header + 1);
    const std::size_t count = (header->Size - sizeof(EVENT_TRACE_HEADER)) / sizeof(MOF_FIELD);
    for (std::size_t i = 0; i < count; ++i)
    {
        const BYTE* bytes = reinterpret_cast<const BYTE*>(static_cast<std::uintptr_t>(fields[i].DataPtr));
        message.args.emplace_back(bytes, bytes + fields[i].Length);
    }
    g_session.messages.push_back(std::move(message));
    return ERROR_SUCCESS;
}

TraceMessageVaFn FindFakeTraceMessage()
{
    return FakeTraceMessageVa;
}

TraceMessageVaFn FindNoTraceMessage()
{
    return nullptr;
}

} // namespace

std::wstring CapturedTrace::Wide(std::size_t i) const
{
    const auto& bytes = args.at(i);
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
    if (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

std::string CapturedTrace::Narrow(std::size_t i) const
{
    const auto& bytes = args.at(i);
    std::string text(bytes.begin(), bytes.end());
    if (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

std::uint64_t CapturedTrace::Number(std::size_t i) const
{
    const auto& bytes = args.at(i);
    std::uint64_t value = 0;
    std::memcpy(&value, bytes.data(), bytes.size() < sizeof(value) ? bytes.size() : sizeof(value));
    return value;
}

CTraceCapture::CTraceCapture(Route route, UCHAR level, ULONG flags, HMODULE module) : m_module(module)
{
    g_session = Session{};
    g_session.level = level;
    g_session.flags = flags;
    m_previous = SetTraceApi(TraceApi{FakeRegister, FakeUnregister, FakeLoggerHandle, FakeEnableLevel,
                                      FakeEnableFlags, FakeTraceEvent,
                                      route == Route::TraceMessage ? FindFakeTraceMessage : FindNoTraceMessage});
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

ULONG CTraceCapture::Disable()
{
    return Request(WMI_DISABLE_EVENTS);
}

ULONG CTraceCapture::Request(WMIDPREQUESTCODE code)
{
    ULONG size = 0;
    return TraceControlCallback(code, nullptr, &size, &g_session);
}

const std::vector<CapturedTrace>& CTraceCapture::Messages() const
{
    return g_session.messages;
}

bool CTraceCapture::Has(const GUID& unit, ULONG number) const
{
    for (const auto& message : g_session.messages)
        if (IsEqualGUID(message.unit, unit) && message.number == number)
            return true;
    return false;
}

void CTraceCapture::Clear()
{
    g_session.messages.clear();
}

const GUID& CTraceCapture::RegisteredControl() const
{
    return g_session.control;
}

int CTraceCapture::Registrations() const
{
    return g_session.registrations;
}

int CTraceCapture::Unregistrations() const
{
    return g_session.unregistrations;
}
