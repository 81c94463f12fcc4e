#pragma once
// Runs a callable when the scope ends, on every path out: early returns and exceptions alike. For objects
// that a sibling component hands out and takes back through its own release operation:
//
//     ITrackingRequest* request = comms->CreateTrackingRequest(url);
//     const auto releaseRequest = ScopeExit([&] { comms->ReleaseTrackingRequest(&request); });
//
// Dismiss() keeps the callable from running (ownership handed on). Move-only; the callable must not throw.

#include <type_traits>
#include <utility>

template <typename Fn>
class [[nodiscard]] CScopeExit
{
public:
    explicit CScopeExit(Fn fn) noexcept(std::is_nothrow_move_constructible_v<Fn>) : m_fn(std::move(fn)) {}
    ~CScopeExit()
    {
        if (m_active)
            m_fn();
    }
    CScopeExit(CScopeExit&& other) noexcept(std::is_nothrow_move_constructible_v<Fn>)
        : m_fn(std::move(other.m_fn)), m_active(std::exchange(other.m_active, false))
    {
    }
    CScopeExit(const CScopeExit&) = delete;
    CScopeExit& operator=(const CScopeExit&) = delete;
    CScopeExit& operator=(CScopeExit&&) = delete;

    void Dismiss() noexcept { m_active = false; }

private:
    Fn m_fn;
    bool m_active = true;
};

template <typename Fn>
[[nodiscard]] CScopeExit<std::decay_t<Fn>> ScopeExit(Fn&& fn)
{
    return CScopeExit<std::decay_t<Fn>>(std::forward<Fn>(fn));
}
