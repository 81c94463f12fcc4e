#include "host/CSystemInfoMng.h"

#include "host/Trace.h"

TRACE_UNIT("929794ad-2de6-4838-ac68-3fa380f65ad7");

namespace
{
constexpr char kGetHardware[] = "GetIHardware";
} // namespace

CSystemInfoMng::CSystemInfoMng(const std::wstring& folder) : CComponentLibrary(folder, L"Anvara.dll") {}

IHardware* CSystemInfoMng::GetHardware()
{
    return Obtain<GetIHardwareFn>(kGetHardware,
                                  [] { TRACE_ERROR(kTraceFlagGeneral, 10, "%s gave no interface", kGetHardware); });
}
