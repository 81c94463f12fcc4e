#include "host/CDispatcherHelper.h"

#include "host/CLoader.h"
#include "host/InstallLocations.h"
#include "host/ModuleComponents.h"
#include "host/Trace.h"

#include <new>

TRACE_UNIT("2b46175e-d8fc-46d2-a642-fcef26ebb40f");

namespace
{
constexpr wchar_t kDispatcherLibrary[] = L"Ostrel.dll";
constexpr char kGetDispatchEvent[] = "GetIDispatchEvent";
constexpr char kFreeDispatchEvent[] = "FreeIDispatchEvent";

// "[" first "," second ... "]": the texts go in as they are.
std::wstring JoinAsArray(const std::vector<std::wstring>& texts)
{
    std::wstring joined(1, L'[');
    for (std::size_t i = 0; i < texts.size(); ++i)
    {
        if (i != 0)
            joined.push_back(L',');
        joined += texts[i];
    }
    joined.push_back(L']');
    return joined;
}

// Module-wide: see ModuleComponents.h.
CDispatcherHelper g_dispatcherHelper;
} // namespace

CDispatcherHelper& CDispatcherHelper::Instance()
{
    return g_dispatcherHelper;
}

CDispatcherHelper::CDispatcherHelper() = default;

CDispatcherHelper::~CDispatcherHelper()
{
    // At process exit the component may already be detached: neither its interface nor its library is
    // touched (the loader leaves the library alone too).
    if (ModuleComponentsAbandoned())
    {
        m_dispatchEvent = nullptr;
        m_loader.reset();
        return;
    }
    UnloadDispatcher();
}

DWORD CDispatcherHelper::SendText(const std::wstring& text, bool option)
{
    if (text.empty())
    {
        TRACE_ERROR(kTraceFlagGeneral, 10, "empty event text");
        return ERROR_INVALID_PARAMETER;
    }
    DWORD result = ERROR_SUCCESS;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_dispatchEvent == nullptr)
            result = LoadDispatcher();
        if (m_dispatchEvent != nullptr)
        {
            result = m_dispatchEvent->Send(text.c_str(), option);
            if (result != ERROR_SUCCESS)
                TRACE_ERROR(kTraceFlagEvents, 11, "dispatcher refused event: error %u, text %ls", result, text);
            else
                TRACE_VERBOSE(kTraceFlagEvents, 12, "event sent: %ls, option %ls", text, option ? L"true" : L"false");
        }
    }
    if (result != ERROR_SUCCESS)
        TRACE_ERROR(kTraceFlagEvents, 13, "cannot send event: error %u, text %ls", result, text);
    return result;
}

DWORD CDispatcherHelper::LoadDispatcher()
{
    std::wstring folder;
    if (!GetInstallFolder(folder))
        TRACE_ERROR(kTraceFlagEvents, 14, "no install folder for %ls", kDispatcherLibrary);
    std::unique_ptr<CLoader> loader;
    try
    {
        loader = std::make_unique<CLoader>(folder);
    }
    catch (const std::bad_alloc&)
    {
        TRACE_ERROR(kTraceFlagEvents, 15, "no loader for %ls", kDispatcherLibrary);
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    // Every failure from here on drops the loader, so that the next send starts afresh.
    if (!loader->Load(kDispatcherLibrary, std::wstring()))
    {
        TRACE_ERROR(kTraceFlagEvents, 16, "cannot load %ls from %ls", kDispatcherLibrary, folder);
        return ERROR_DLL_NOT_FOUND;
    }
    const auto get = reinterpret_cast<GetIDispatchEventFn>(loader->GetProc(kGetDispatchEvent));
    if (get == nullptr || !loader->HasProc(kFreeDispatchEvent))
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "%ls needs %s and %s", kDispatcherLibrary, kGetDispatchEvent,
                    kFreeDispatchEvent);
        return ERROR_PROC_NOT_FOUND;
    }
    IDispatchEvent* dispatchEvent = get();
    if (dispatchEvent == nullptr)
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "%s gave no interface", kGetDispatchEvent);
        return ERROR_OBJECT_NOT_FOUND;
    }
    m_loader = std::move(loader);
    m_dispatchEvent = dispatchEvent;
    RegisterModuleComponent([] { g_dispatcherHelper.UnloadDispatcher(); });
    return ERROR_SUCCESS;
}

void CDispatcherHelper::UnloadDispatcher()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_loader)
        return;
    if (m_dispatchEvent != nullptr)
    {
        if (const auto release = reinterpret_cast<FreeIDispatchEventFn>(m_loader->GetProc(kFreeDispatchEvent)))
            release(&m_dispatchEvent);
    }
    m_loader->Unload();
    m_loader.reset();
    m_dispatchEvent = nullptr;
    TRACE_VERBOSE(kTraceFlagEvents, 24, "dispatcher component %ls released", kDispatcherLibrary);
}

DWORD CDispatcherHelper::SendObject(const CMessageObject& object, bool option)
{
    std::wstring text;
    if (!object.Serialize(text))
    {
        TRACE_ERROR(kTraceFlagEvents, 19, "cannot write event object");
        return ERROR_INVALID_PARAMETER;
    }
    return SendText(text, option);
}

DWORD CDispatcherHelper::SendObjects(const CMessageBatch& batch, bool option)
{
    std::vector<std::wstring> texts;
    texts.reserve(batch.objects.size());
    for (const CMessageObject& object : batch.objects)
    {
        std::wstring text;
        if (!object.Serialize(text))
        {
            TRACE_ERROR(kTraceFlagEvents, 20, "cannot write object %zu of the batch", texts.size());
            return ERROR_INVALID_PARAMETER;
        }
        texts.push_back(std::move(text));
    }
    if (texts.empty())
        return SendText(std::wstring(), option);
    if (texts.size() == 1)
        return SendText(texts.front(), option);
    return SendText(JoinAsArray(texts), option);
}

DWORD CDispatcherHelper::SendEach(const std::vector<std::wstring>& texts, bool option)
{
    if (texts.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 21, "no event texts to send");
        return ERROR_INVALID_PARAMETER;
    }
    for (const std::wstring& text : texts)
    {
        const DWORD result = SendText(text, option);
        if (result != ERROR_SUCCESS)
        {
            TRACE_ERROR(kTraceFlagEvents, 22, "sending stopped: error %u, text %ls", result, text);
            return result;
        }
    }
    return ERROR_SUCCESS;
}

DWORD CDispatcherHelper::SendAsArray(const std::vector<std::wstring>& texts, bool option)
{
    if (texts.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 23, "no event texts to send");
        return ERROR_INVALID_PARAMETER;
    }
    return SendText(JoinAsArray(texts), option);
}
