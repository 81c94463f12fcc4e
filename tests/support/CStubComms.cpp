#include "CStubComms.h"

#include <utility>

int CStubComms::Outstanding() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_handedOut.size());
}

int CStubComms::BadReleases() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_badReleases;
}

void CStubComms::ReleaseTrackingRequest(ITrackingRequest** request)
{
    if (request != nullptr)
        TakeBack(std::exchange(*request, nullptr));
}

void CStubComms::Note(const void* object)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (object != nullptr)
        m_handedOut.insert(object);
}

void CStubComms::TakeBack(const void* object)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_handedOut.find(object);
    if (found != m_handedOut.end())
        m_handedOut.erase(found);
    else if (object != nullptr)
        ++m_badReleases;
}
