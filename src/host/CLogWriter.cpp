#include "host/CLogWriter.h"

CLogWriter::CLogWriter(ILogService* service) : m_service(service)
{
    if (m_service != nullptr)
        return;
    m_loader = std::make_unique<CLogServiceLoader>();
    m_service = GetILogService();
    m_ownsService = true;
}

CLogWriter::~CLogWriter()
{
    if (!m_loader)
        return;
    if (m_ownsService)
    {
        FreeILogService(&m_service);
        m_ownsService = false;
    }
    m_loader.reset();
}

void CLogWriter::Write(DWORD level, const std::wstring& text) const
{
    if (m_service != nullptr)
        m_service->Write(level, text.c_str());
}
