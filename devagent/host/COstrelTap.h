#pragma once
// The host's ear on the event dispatcher: Ostrel.dll loaded from the install folder, which is the module the
// plug-in sends through, with a listener that hands every event text written to the handler, on the sender's
// thread. The destructor removes the listener, waiting for calls in flight, before the library is let go.

#include "OstrelListener.h"

#include "platform/CUniqueHandle.h"

#include <functional>
#include <string>

class COstrelTap
{
public:
    using Handler = std::function<void(const std::wstring& text)>;

    explicit COstrelTap(Handler handler);
    ~COstrelTap();
    COstrelTap(const COstrelTap&) = delete;
    COstrelTap& operator=(const COstrelTap&) = delete;

    // False with the reason in error when the library or its listener export cannot be had.
    [[nodiscard]] bool Attach(const std::wstring& installFolder, std::wstring& error);

private:
    static void Listen(const wchar_t* text, bool option, void* context);

    Handler m_handler;
    CModule m_library;
    OstrelSetListenerFn m_setListener = nullptr;
};
