#pragma once
// How the library raises events: JSON texts handed to the agent's event dispatcher component.

#include "message/CMessageObject.h"
#include "platform/Win.h"

#include <string>
#include <vector>

// A set of message objects sent as one event text. The four texts are stamped into the objects by whoever
// builds the batch; only the objects are sent.
struct CMessageBatch
{
    std::wstring eventSource;
    std::wstring eventId;
    std::wstring eventSchedulerId;
    std::wstring schedulerExecutionTime;
    std::vector<CMessageObject> objects;
};

class IDispatcherHelper
{
public:
    virtual ~IDispatcherHelper() = default;                                                   // slot 0
    [[nodiscard]] virtual DWORD SendObjects(const CMessageBatch& batch, bool option) = 0;                  // slot 1
    [[nodiscard]] virtual DWORD SendObject(const CMessageObject& object, bool option) = 0;                 // slot 2
    [[nodiscard]] virtual DWORD SendText(const std::wstring& text, bool option) = 0;                       // slot 3
    [[nodiscard]] virtual DWORD SendEach(const std::vector<std::wstring>& texts, bool option) = 0;         // slot 4
    [[nodiscard]] virtual DWORD SendAsArray(const std::vector<std::wstring>& texts, bool option) = 0;      // slot 5
};
