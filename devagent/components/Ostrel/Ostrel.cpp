// Ostrel stand-in: the agent's event dispatcher. Every event text it is handed is appended as one JSON line
// to events.jsonl in the agent data folder, so that tests and the demo can see what the plug-in raised:
//
//     {"option":true,"event":{...}}      the text, when it is a JSON object or array
//     {"option":false,"event":"..."}     any other text, as a string
//
// OSTREL_FAIL_AFTER=<n>, read when an interface is handed out, makes every Send after the n-th fail.
// OstrelSetListener (OstrelListener.h) lets the development host hear every event that was written.
// An "AddRepositoryContent" request goes on to the agent's repository manager (Repository\Merrow.dll).
//
// A call into the library after it was detached (a user that calls in while the process ends) ends the
// process at once with exit code kCalledAfterDetach, so that the fault cannot pass unseen.

#include "OstrelListener.h"

#include "host/ComponentExports.h"
#include "host/IDispatchEvent.h"
#include "host/IRepositoryManager.h"
#include "host/InstallLocations.h"
#include "message/CMessageObject.h"
#include "platform/CUniqueHandle.h"
#include "platform/Files.h"
#include "platform/Path.h"
#include "platform/Registry.h"
#include "platform/TextUtil.h"
#include "platform/Win.h"

#include <shlobj.h>

#include <atomic>
#include <condition_variable>
#include <cwchar>
#include <mutex>
#include <new>
#include <string>

namespace
{

constexpr wchar_t kDefaultProductFolder[] = L"Korvo Endpoint Agent";
constexpr wchar_t kEventsFile[] = L"events.jsonl";

// One writer at a time, so that lines from concurrent senders never interleave.
std::mutex g_fileMutex;

std::wstring ProductFolderName()
{
    std::wstring name;
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, kAgentSetupKey, L"InitialProductName", name) == ERROR_SUCCESS &&
        !name.empty())
        return name;
    return kDefaultProductFolder;
}

// "<common application data>\Korvo Security\<product>\", created when missing; empty on failure.
std::wstring DataFolder()
{
    wchar_t common[MAX_PATH];
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common)))
        return std::wstring();
    const std::wstring folder = std::wstring(common) + L"\\Korvo Security\\" + ProductFolderName();
    const int created = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (created != ERROR_SUCCESS && created != ERROR_ALREADY_EXISTS && created != ERROR_FILE_EXISTS)
        return std::wstring();
    return folder + L"\\";
}

bool BuildLine(const wchar_t* text, bool option, std::string& line)
{
    const std::wstring received = text != nullptr ? text : L"";
    std::wstring json;
    CMessageObject event;
    if (event.FromJson(received) && event.Serialize(json))
    {
        // Written again rather than copied: the received text may span lines.
        json = std::wstring(L"{\"option\":") + (option ? L"true" : L"false") + L",\"event\":" + json + L"}";
    }
    else
    {
        CMessageObject wrapper;
        wrapper.AddBool(L"option", option);
        wrapper.AddString(L"event", received);
        if (!wrapper.Serialize(json))
            return false;
    }
    json.push_back(L'\n');
    return WideToBytes(json, line, CP_UTF8);
}

DWORD AppendLine(const std::string& line)
{
    std::lock_guard<std::mutex> lock(g_fileMutex);
    const std::wstring folder = DataFolder();
    if (folder.empty())
        return ERROR_PATH_NOT_FOUND;
    return WriteWholeFile(folder + kEventsFile, line, kFileAppend);
}

// The listener is called outside every lock (it may send again); removing it waits for the calls in flight,
// so that its context can be destroyed right after.
std::mutex g_listenerMutex;
std::condition_variable g_listenerIdle;
OstrelListenerFn g_listener = nullptr;
void* g_listenerContext = nullptr;
unsigned g_listenerCalls = 0;

void Notify(const wchar_t* text, bool option)
{
    OstrelListenerFn listener = nullptr;
    void* context = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_listenerMutex);
        if (g_listener == nullptr)
            return;
        listener = g_listener;
        context = g_listenerContext;
        ++g_listenerCalls;
    }
    listener(text != nullptr ? text : L"", option, context);
    {
        std::lock_guard<std::mutex> lock(g_listenerMutex);
        --g_listenerCalls;
    }
    g_listenerIdle.notify_all();
}

// The agent's repository manager takes "AddRepositoryContent" requests, as the agent's service routes them.
// Loaded for the call: when the host runs the repository server, the loaded library is the same one.
void RouteRepositoryContent(const wchar_t* text)
{
    CMessageObject event;
    const CMessageItem* request = nullptr;
    if (text == nullptr || !event.FromJson(text) || !event.FindItem(L"AddRepositoryContent", request))
        return;
    std::wstring install;
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, kAgentSetupKey, L"Path", install) != ERROR_SUCCESS || install.empty())
        return;
    const std::wstring dll = WithTrailingBackslash(install) + L"Repository\\Merrow.dll";
    const CModule merrow(::LoadLibraryExW(dll.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!merrow)
        return;
    const auto get = reinterpret_cast<GetIRepositoryManagerFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(merrow.Get(), "GetIRepositoryManager")));
    const auto release = reinterpret_cast<FreeIRepositoryManagerFn>(reinterpret_cast<void (*)()>(
        ::GetProcAddress(merrow.Get(), "FreeIRepositoryManager")));
    if (get == nullptr || release == nullptr)
        return;
    if (IRepositoryManager* manager = get())
    {
        manager->AddRepositoryContent(text);
        release(manager);
    }
}

constexpr UINT kCalledAfterDetach = 0xDEAD;
std::atomic<bool> g_detached{false};

void RefuseCallAfterDetach()
{
    if (g_detached.load())
        ::TerminateProcess(::GetCurrentProcess(), kCalledAfterDetach);
}

class CEventLog : public IDispatchEvent
{
public:
    explicit CEventLog(unsigned long long failAfter) : m_failAfter(failAfter) {}

    DWORD Send(const wchar_t* text, bool option) override
    {
        RefuseCallAfterDetach();
        if (++m_sends > m_failAfter)
            return ERROR_GEN_FAILURE;
        std::string line;
        if (!BuildLine(text, option, line))
            return ERROR_INVALID_DATA;
        const DWORD written = AppendLine(line);
        if (written == ERROR_SUCCESS)
        {
            Notify(text, option);
            RouteRepositoryContent(text);
        }
        return written;
    }

private:
    unsigned long long m_failAfter;
    std::atomic<unsigned long long> m_sends{0};
};

unsigned long long FailAfter()
{
    wchar_t value[32] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"OSTREL_FAIL_AFTER", value, 32);
    if (length == 0 || length >= 32)
        return ~0ull;
    wchar_t* end = nullptr;
    const unsigned long long n = std::wcstoull(value, &end, 10);
    return end != value && *end == L'\0' ? n : ~0ull;
}

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_DETACH)
        g_detached.store(true);
    return TRUE;
}

extern "C" __declspec(dllexport) IDispatchEvent* GetIDispatchEvent()
{
    RefuseCallAfterDetach();
    return new (std::nothrow) CEventLog(FailAfter());
}

extern "C" __declspec(dllexport) void FreeIDispatchEvent(IDispatchEvent** dispatcher)
{
    RefuseCallAfterDetach();
    if (dispatcher == nullptr)
        return;
    delete *dispatcher;
    *dispatcher = nullptr;
}

extern "C" __declspec(dllexport) void OstrelSetListener(OstrelListenerFn listener, void* context)
{
    RefuseCallAfterDetach();
    std::unique_lock<std::mutex> lock(g_listenerMutex);
    g_listenerIdle.wait(lock, [] { return g_listenerCalls == 0; });
    g_listener = listener;
    g_listenerContext = context;
}
