#pragma once
// The scheduler service as agent-host runs it: a CDevScheduler over the agent's configuration, hearing the
// dispatcher through a COstrelTap, delivering each event to the plug-in that handles it and printing every
// delivery with its task id and the plug-in's answer.

#include "CDevScheduler.h"
#include "COstrelTap.h"

#include "host/IPlugin.h"

#include <map>
#include <memory>
#include <string>

class CHostScheduler
{
public:
    // The plug-ins must outlive Finish.
    CHostScheduler(const PluginList& plugins, double scale);
    ~CHostScheduler(); // Finish(0)
    CHostScheduler(const CHostScheduler&) = delete;
    CHostScheduler& operator=(const CHostScheduler&) = delete;

    // Loads the stored tasks, starts delivering and listening; false with the reason in error.
    [[nodiscard]] bool Start(const std::wstring& installFolder, std::wstring& error);
    // Waits up to seconds for the deliveries due within them, then stops the thread and the listener.
    void Finish(unsigned long seconds);

private:
    void Deliver(const std::wstring& taskId, CMessageObject& event);

    std::map<std::wstring, IPlugin*> m_handlers;
    double m_scale;
    std::unique_ptr<CDevScheduler> m_scheduler;
    std::unique_ptr<COstrelTap> m_tap; // after the scheduler: it goes first
};
