#pragma once
// The configuration component's utility (Tamsin.dll, export "GetUtil"). Settings are dotted keys
// ("Register.Agent.TestMode"); values are wide texts, structured values JSON. The component must accept
// calls from several threads at once. Slots that this system never calls are declared so that every
// operation sits at its slot.
//
// Shared by the plug-in and the stand-in component; binary contract as in IPlugin.h.

#include "platform/Win.h"

#include <string>

class IConfigUtil
{
public:
    virtual ~IConfigUtil() = default;   // slot 0
    virtual void Reserved1() = 0;
    virtual void Reserved2() = 0;
    virtual void Reserved3() = 0;
    virtual void Reserved4() = 0;
    virtual void Reserved5() = 0;
    virtual void Reserved6() = 0;
    virtual void Reserved7() = 0;
    // Slot 8: the component allocates *value; give it back with ReleaseValue whether or not it was used.
    [[nodiscard]] virtual DWORD QueryValue(const wchar_t* key, wchar_t** value, DWORD flags) = 0;
    // Slot 9: into the caller's string.
    [[nodiscard]] virtual DWORD GetValue(const wchar_t* key, std::wstring& value, DWORD flags) = 0;
    // Slot 10: section.group.key into the caller's buffer; *size is its capacity in characters (with the
    // terminator) and receives the length needed (ERROR_MORE_DATA) or written.
    [[nodiscard]] virtual DWORD QuerySectionValue(const wchar_t* section, const wchar_t* group, const wchar_t* key,
                                    wchar_t* buffer, DWORD* size, DWORD flags) = 0;
    [[nodiscard]] virtual DWORD SetValue(const wchar_t* key, const wchar_t* value, DWORD flags) = 0;   // slot 11
    virtual void Reserved12() = 0;
    [[nodiscard]] virtual DWORD RemoveValue(const wchar_t* key) = 0;   // slot 13
    virtual void Reserved14() = 0;
    virtual void ReleaseValue(wchar_t** value) = 0;      // slot 15: clears *value
};

// What implementations of this system share (the configuration stand-in, fakes, decorators): the slots that
// this system never calls do nothing.
class CConfigUtilBase : public IConfigUtil
{
public:
    void Reserved1() override {}
    void Reserved2() override {}
    void Reserved3() override {}
    void Reserved4() override {}
    void Reserved5() override {}
    void Reserved6() override {}
    void Reserved7() override {}
    void Reserved12() override {}
    void Reserved14() override {}
};

using GetUtilFn = IConfigUtil* (*)();
