#pragma once
// The module's one dispatcher access. Ostrel.dll is loaded from the install folder on the first send and
// stays loaded until this library unloads; a failed load is repeated by the next send. Every send holds
// the dispatcher mutex across loading and the component's Send, so events leave one at a time, in the
// order their senders got the mutex.
//
// Results: ERROR_SUCCESS or the component's own; ERROR_INVALID_PARAMETER for an empty text or list or an
// object that cannot be written; ERROR_NOT_ENOUGH_MEMORY when no loader can be made; ERROR_DLL_NOT_FOUND
// (1157) when the library cannot be loaded; ERROR_PROC_NOT_FOUND when an export is missing;
// ERROR_OBJECT_NOT_FOUND (4312) when the component hands out no interface.

#include "host/IDispatchEvent.h"
#include "host/IDispatcherHelper.h"

#include <memory>
#include <mutex>

class CLoader;

class CDispatcherHelper : public IDispatcherHelper
{
public:
    static CDispatcherHelper& Instance();

    [[nodiscard]] DWORD SendObjects(const CMessageBatch& batch, bool option) override;
    [[nodiscard]] DWORD SendObject(const CMessageObject& object, bool option) override;
    [[nodiscard]] DWORD SendText(const std::wstring& text, bool option) override;
    [[nodiscard]] DWORD SendEach(const std::vector<std::wstring>& texts, bool option) override;
    [[nodiscard]] DWORD SendAsArray(const std::vector<std::wstring>& texts, bool option) override;

    // Gives the interface back and unloads the component; the next send loads it again.
    void UnloadDispatcher();

    CDispatcherHelper();
    ~CDispatcherHelper() override;
    CDispatcherHelper(const CDispatcherHelper&) = delete;
    CDispatcherHelper& operator=(const CDispatcherHelper&) = delete;

private:
    [[nodiscard]] DWORD LoadDispatcher();   // with m_mutex held

    std::mutex m_mutex;
    std::unique_ptr<CLoader> m_loader;
    IDispatchEvent* m_dispatchEvent = nullptr;
};
