#include "message/CMessageItem.h"

#include "message/CMessageObject.h"

#include <utility>

CMessageItem::CMessageItem(std::wstring name) : CMessageType(std::move(name), Null) {}

CMessageItem::CMessageItem(std::wstring name, bool value) : CMessageType(std::move(name), Boolean)
{
    m_value.boolean = value;
}

CMessageItem::CMessageItem(std::wstring name, std::wstring value)
    : CMessageType(std::move(name), String), m_string(std::move(value))
{
}

CMessageItem::CMessageItem(std::wstring name, const wchar_t* value)
    : CMessageType(std::move(name), String), m_string(value ? value : L"")
{
}

CMessageItem::CMessageItem(std::wstring name, std::uint32_t value) : CMessageType(std::move(name), Integer)
{
    m_unsigned = true;
    m_value.u64 = value;
}

CMessageItem::CMessageItem(std::wstring name, std::uint64_t value) : CMessageType(std::move(name), Integer)
{
    m_unsigned = true;
    m_value.u64 = value;
}

CMessageItem::CMessageItem(const CMessageObject& object) : CMessageType(object.m_name, Object)
{
    m_value.object = new CMessageObject(object);
}

CMessageItem CMessageItem::Int64(std::wstring name, std::int64_t value)
{
    CMessageItem item;
    item.m_name = std::move(name);
    item.m_type = Integer;
    item.m_value.i64 = value;
    return item;
}

CMessageItem CMessageItem::Real(std::wstring name, double value)
{
    CMessageItem item;
    item.m_name = std::move(name);
    item.m_type = Double;
    item.m_value.dbl = value;
    return item;
}

CMessageItem::CMessageItem(const CMessageItem& other)
    : CMessageType(other), m_string(other.m_string), m_unsigned(other.m_unsigned), m_value(other.m_value)
{
    if (m_type == Object && other.m_value.object)
        m_value.object = new CMessageObject(*other.m_value.object);
}

CMessageItem::CMessageItem(CMessageItem&& other) noexcept
    : CMessageType(std::move(other.m_name), std::exchange(other.m_type, Undefined)),
      m_string(std::move(other.m_string)), m_unsigned(std::exchange(other.m_unsigned, false)),
      m_value(std::exchange(other.m_value, Value{}))
{
    other.m_name.clear();
    other.m_string.clear();
}

CMessageItem& CMessageItem::operator=(const CMessageItem& other)
{
    if (this != &other)
    {
        CMessageItem copy(other); // may throw: build it before giving up what is held
        *this = std::move(copy);
    }
    return *this;
}

CMessageItem& CMessageItem::operator=(CMessageItem&& other) noexcept
{
    if (this != &other)
    {
        Destroy();
        m_name = std::move(other.m_name);
        other.m_name.clear();
        m_type = std::exchange(other.m_type, Undefined);
        m_string = std::move(other.m_string);
        other.m_string.clear();
        m_unsigned = std::exchange(other.m_unsigned, false);
        m_value = std::exchange(other.m_value, Value{});
    }
    return *this;
}

CMessageItem::~CMessageItem() { Destroy(); }

void CMessageItem::Destroy() noexcept
{
    if (m_type == Object)
        delete m_value.object;
    m_value = Value{};
}
