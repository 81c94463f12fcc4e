#include "COstrelTap.h"

#include "host/CLoader.h"

#include <utility>

COstrelTap::COstrelTap(Handler handler) : m_handler(std::move(handler)) {}

COstrelTap::~COstrelTap()
{
    if (m_setListener != nullptr)
        m_setListener(nullptr, nullptr);
}

bool COstrelTap::Attach(const std::wstring& installFolder, std::wstring& error)
{
    m_library = LoadComponentLibrary(installFolder, L"Ostrel.dll");
    if (!m_library)
    {
        error = L"cannot load Ostrel.dll from " + installFolder;
        return false;
    }
    m_setListener = reinterpret_cast<OstrelSetListenerFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(m_library.Get(), kOstrelSetListenerExport)));
    if (m_setListener == nullptr)
    {
        error = L"Ostrel.dll has no listener export";
        return false;
    }
    m_setListener(&COstrelTap::Listen, this);
    return true;
}

void COstrelTap::Listen(const wchar_t* text, bool, void* context)
{
    // Called from inside the dispatcher's Send: nothing may unwind into it.
    try
    {
        static_cast<COstrelTap*>(context)->m_handler(text);
    }
    catch (...)
    {}
}
