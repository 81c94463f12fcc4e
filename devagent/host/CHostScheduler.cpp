#include "CHostScheduler.h"

#include "HostOutput.h"

#include "host/CConfigHelper.h"
#include "message/CMessageObject.h"

#include <set>
#include <vector>

CHostScheduler::CHostScheduler(const PluginList& plugins, double scale) : m_scale(scale)
{
    for (const PluginListEntry& entry : plugins)
    {
        std::vector<std::wstring> names;
        if (entry.plugin != nullptr)
            entry.plugin->GetEvents(names);
        for (const std::wstring& name : names)
            m_handlers.emplace(name, entry.plugin);
    }
}

CHostScheduler::~CHostScheduler()
{
    Finish(0);
}

bool CHostScheduler::Start(const std::wstring& installFolder, std::wstring& error)
{
    IConfigUtil* config = CConfigHelper::Instance().GetConfigUtil();
    if (config == nullptr)
        PrintLine(L"scheduler: no configuration component, tasks are kept in memory only");
    std::set<std::wstring> handled;
    for (const auto& handler : m_handlers)
        handled.insert(handler.first);
    SchedulerCallbacks callbacks{[this](const std::wstring& id, CMessageObject& event) { Deliver(id, event); },
                                 [](const std::wstring& text) { PrintLine(L"scheduler: " + text); }};
    m_scheduler = std::make_unique<CDevScheduler>(config, std::move(handled), m_scale, std::move(callbacks));
    m_scheduler->Start();
    CDevScheduler& scheduler = *m_scheduler;
    m_tap = std::make_unique<COstrelTap>([&scheduler](const std::wstring& text) { scheduler.OnEvent(text); });
    return m_tap->Attach(installFolder, error);
}

void CHostScheduler::Finish(unsigned long seconds)
{
    if (m_scheduler)
    {
        if (seconds != 0 && !m_scheduler->WaitForDue(seconds * 1000))
            PrintLine(L"scheduler: deliveries still due after " + std::to_wstring(seconds) + L" s are not made");
        m_scheduler->Stop();
    }
    m_tap.reset();
}

void CHostScheduler::Deliver(const std::wstring& taskId, CMessageObject& event)
{
    std::wstring name;
    if (!event.GetMessageName(name))
        name = L"without a name";
    const std::wstring what = (taskId.empty() ? L"event " : L"task " + taskId + L": event ") + name;
    const auto handler = m_handlers.find(name);
    if (handler == m_handlers.end())
    {
        PrintLine(L"scheduler: " + what + L": no plug-in handles it");
        return;
    }
    const DWORD result = handler->second->ProcessEvent(&event);
    PrintLine(L"scheduler: " + what + L": " + std::to_wstring(result) + L" (" + Meaning(result) + L")");
}
