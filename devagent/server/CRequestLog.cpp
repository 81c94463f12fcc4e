#include "CRequestLog.h"

#include <algorithm>
#include <iterator>

void CRequestLog::Add(CRecordedRequest request)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(std::move(request));
    }
    m_added.notify_all();
}

std::vector<CRecordedRequest> CRequestLog::All() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

std::vector<CRecordedRequest> CRequestLog::To(const std::string& path) const
{
    std::vector<CRecordedRequest> out;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::copy_if(m_requests.begin(), m_requests.end(), std::back_inserter(out),
                 [&](const CRecordedRequest& r) { return r.path == path; });
    return out;
}

std::size_t CRequestLog::Count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests.size();
}

bool CRequestLog::WaitFor(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_added.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

void CRequestLog::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.clear();
}
