#pragma once
// Holds a logging service for its user. Given one, the writer borrows it and never touches the logging
// component; given null, it acquires the component, takes a service of its own and gives both back when
// it is destroyed.

#include "host/CLogServiceLoader.h"

#include <memory>
#include <string>

class CLogWriter
{
public:
    explicit CLogWriter(ILogService* service = nullptr);
    virtual ~CLogWriter();
    CLogWriter(const CLogWriter&) = delete;
    CLogWriter& operator=(const CLogWriter&) = delete;

    // May be null: the component could not be had.
    ILogService* Service() const { return m_service; }
    [[nodiscard]] bool OwnsService() const { return m_ownsService; }

    // level as the trace levels; nothing happens without a service.
    void Write(DWORD level, const std::wstring& text) const;

private:
    bool m_ownsService = false;
    std::unique_ptr<CLogServiceLoader> m_loader;
    ILogService* m_service = nullptr;
};
