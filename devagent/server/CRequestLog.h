#pragma once
// The requests a fixture received, oldest first, for the test thread to read and wait on while the server
// threads add to them. Thread-safe.

#include "CRecordedRequest.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <vector>

class CRequestLog
{
public:
    void Add(CRecordedRequest request);
    std::vector<CRecordedRequest> All() const;
    std::vector<CRecordedRequest> To(const std::string& path) const; // exact path match
    std::size_t Count() const;
    // True once at least count requests are there; false after timeout.
    bool WaitFor(std::size_t count, std::chrono::milliseconds timeout) const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_added;
    std::vector<CRecordedRequest> m_requests;
};
