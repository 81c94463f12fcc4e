#pragma once
// A download of several files that its owner drives attempt by attempt, and may stop from outside.

#include "message/CMessageObject.h"

#include <cstdint>
#include <functional>

class ICancellableOperation
{
public:
    using CancelCallback = std::function<bool()>;

    virtual ~ICancellableOperation() = default;                     // slot 0
    // Replaces the callable polled to learn whether to stop; an empty one clears it.
    virtual void SetCancelCallback(CancelCallback callback) = 0;    // slot 1
    [[nodiscard]] virtual bool IsCancelled() const = 0;             // slot 2
};

class IBatchDownloader : public ICancellableOperation
{
public:
    // One attempt; false only when it could not be made at all.
    virtual bool Download() = 0;                                    // slot 3
    // True: finished, wait 0. False: worth another attempt after wait.
    virtual bool GetRetryWait(std::uint32_t& wait) = 0;             // slot 4
    virtual bool SaveState(CMessageObject& state) = 0;              // slot 5
    [[nodiscard]] virtual bool LoadState(const CMessageObject& state) = 0;   // slot 6
};
