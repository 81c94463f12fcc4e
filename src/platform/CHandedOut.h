#pragma once
// The objects of one kind that a component hands out through its exports and takes back through them. A
// release of an address it never gave out (or already took back) is ignored instead of freeing foreign memory,
// and tests can ask how many are still out. Kept at namespace scope, built while the library loads (why:
// src/host/ModuleComponents.h).

#include "platform/Win.h"

#include <memory>
#include <mutex>
#include <set>

template <typename T>
class CHandedOut
{
public:
    // The object, now out; null (and the object deleted) when it cannot be recorded.
    T* HandOut(std::unique_ptr<T> object) noexcept
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        try
        {
            m_objects.insert(object.get());
        }
        catch (...)
        {
            return nullptr;
        }
        return object.release();
    }

    // Deletes *object and clears the pointer when it is out; anything else is left as it is.
    void TakeBack(T** object) noexcept
    {
        if (object == nullptr || *object == nullptr)
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_objects.erase(*object) == 0)
                return;
        }
        delete *object;
        *object = nullptr;
    }

    DWORD Outstanding() const noexcept
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return static_cast<DWORD>(m_objects.size());
    }

private:
    mutable std::mutex m_mutex;
    std::set<T*> m_objects;
};
