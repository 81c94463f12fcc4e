#pragma once
// Random faults on top of the scripted replies, for robustness tests. Each reply put through Apply draws
// from a generator seeded with the plan's seed, under the injector's lock: one seed always gives the same
// sequence of decisions, whichever thread draws them. Thread-safe.

#include "CReplyScript.h"

#include <chrono>
#include <cstddef>
#include <mutex>
#include <random>
#include <vector>

struct CFaultPlan
{
    unsigned seed = 1;
    double dropShare = 0;         // the connection is closed without an answer
    double serverErrorShare = 0;  // answered with one of serverErrors and an empty body instead
    double delayShare = 0;        // the answer (or the drop) waits a time drawn from [0, maxDelay] first
    std::chrono::milliseconds maxDelay{0};
    std::vector<int> serverErrors{500, 502, 503};
};

// How often each fault of a plan struck.
struct CFaultCounts
{
    std::size_t dropped = 0;
    std::size_t serverErrors = 0;
    std::size_t delayed = 0;
};

class CFaultInjector
{
public:
    // Replaces any earlier plan; counting starts again.
    void Inject(const CFaultPlan& plan);
    void Clear();
    CFaultCounts Counts() const;

    // Without a plan, leaves reply as it is. Otherwise one draw decides: a drop (dropShare), else a bare
    // server error (serverErrorShare), else the reply stands; a second draw adds a delay (delayShare).
    void Apply(CScriptedReply& reply);

private:
    mutable std::mutex m_mutex;
    bool m_active = false;
    CFaultPlan m_plan;
    std::mt19937 m_random;
    CFaultCounts m_counts;
};
