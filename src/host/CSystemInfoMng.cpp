#include "host/CSystemInfoMng.h"

#include "host/Trace.h"

TRACE_UNIT("929794ad-2de6-4838-ac68-3fa380f65ad7");

namespace
{
constexpr wchar_t kSystemInfoLibrary[] = L"Anvara.dll";
constexpr char kGetHardware[] = "GetIHardware";
constexpr char kFreeHardware[] = "FreeIHardware";
} // namespace

CSystemInfoMng::CSystemInfoMng(const std::wstring& folder) : m_library(folder, kSystemInfoLibrary) {}

bool CSystemInfoMng::Load()
{
    return m_library.Load();
}

IHardware* CSystemInfoMng::GetHardware()
{
    if (!m_library.IsLoaded())
        return nullptr;
    const auto get = m_library.FindAs<GetIHardwareFn>(kGetHardware);
    if (get == nullptr)
        return nullptr;
    IHardware* hardware = get();
    if (hardware == nullptr)
        TRACE_ERROR(kTraceFlagGeneral, 10, "%s gave no interface", kGetHardware);
    return hardware;
}

void CSystemInfoMng::FreeHardware(IHardware** hardware)
{
    if (!m_library.IsLoaded())
        return;
    if (const auto release = m_library.FindAs<FreeIHardwareFn>(kFreeHardware))
        release(hardware);
}
