#include "CFaultInjector.h"

void CFaultInjector::Inject(const CFaultPlan& plan)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_active = true;
    m_plan = plan;
    m_random.seed(plan.seed);
    m_counts = CFaultCounts();
}

void CFaultInjector::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_active = false;
}

CFaultCounts CFaultInjector::Counts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}

void CFaultInjector::Apply(CScriptedReply& reply)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_active)
        return;
    std::uniform_real_distribution<double> share(0.0, 1.0);
    const double kind = share(m_random);
    if (kind < m_plan.dropShare)
    {
        reply.dropConnection = true;
        ++m_counts.dropped;
    }
    else if (kind < m_plan.dropShare + m_plan.serverErrorShare && !m_plan.serverErrors.empty())
    {
        std::uniform_int_distribution<std::size_t> pick(0, m_plan.serverErrors.size() - 1);
        reply = TextReply(m_plan.serverErrors[pick(m_random)], "");
        ++m_counts.serverErrors;
    }
    if (share(m_random) < m_plan.delayShare && m_plan.maxDelay.count() > 0)
    {
        std::uniform_int_distribution<long long> wait(0, static_cast<long long>(m_plan.maxDelay.count()));
        reply.delay += std::chrono::milliseconds(wait(m_random));
        ++m_counts.delayed;
    }
}
