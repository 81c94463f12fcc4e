#include "message/CMessageObject.h"

#include <algorithm>
#include <utility>

CMessageObject::CMessageObject(std::wstring name) : CMessageType(std::move(name), Undefined) {}

CMessageObject::CMessageObject(CMessageObject&& other) noexcept
    : CMessageType(std::move(other.m_name), std::exchange(other.m_type, Undefined)),
      m_items(std::move(other.m_items)), m_isArray(std::exchange(other.m_isArray, false))
{
    other.m_name.clear();
    other.m_items.clear();
}

CMessageObject& CMessageObject::operator=(CMessageObject&& other) noexcept
{
    if (this != &other)
    {
        m_name = std::move(other.m_name);
        other.m_name.clear();
        m_type = std::exchange(other.m_type, Undefined);
        m_items = std::move(other.m_items);
        other.m_items.clear();
        m_isArray = std::exchange(other.m_isArray, false);
    }
    return *this;
}

CMessageItem* CMessageObject::Find(const std::wstring& name)
{
    const auto it = std::find_if(m_items.begin(), m_items.end(),
                                 [&](const CMessageItem& item) { return item.m_name == name; });
    return it == m_items.end() ? nullptr : &*it;
}

const CMessageItem* CMessageObject::Find(const std::wstring& name) const
{
    return const_cast<CMessageObject*>(this)->Find(name);
}

void CMessageObject::AddItem(CMessageItem item, bool replace)
{
    if (replace && !m_isArray)
    {
        if (CMessageItem* existing = Find(item.m_name))
        {
            *existing = std::move(item);
            return;
        }
    }
    m_items.push_back(std::move(item));
}

bool CMessageObject::AddItem(const CMessageItem* item)
{
    if (!item)
        return false;
    AddItem(*item, true);
    return true;
}

void CMessageObject::AddString(const std::wstring& name, const std::wstring& value)
{
    AddItem(CMessageItem(name, value), true);
}

void CMessageObject::AddBool(const std::wstring& name, bool value) { AddItem(CMessageItem(name, value), true); }

void CMessageObject::AddInt32(const std::wstring& name, std::int32_t value)
{
    AddItem(CMessageItem::Int64(name, value), true);
}

void CMessageObject::AddUInt32(const std::wstring& name, std::uint32_t value)
{
    AddItem(CMessageItem(name, value), true);
}

void CMessageObject::AddInt64(const std::wstring& name, std::int64_t value)
{
    AddItem(CMessageItem::Int64(name, value), true);
}

void CMessageObject::AddUInt64(const std::wstring& name, std::uint64_t value)
{
    AddItem(CMessageItem(name, value), true);
}

void CMessageObject::AddDouble(const std::wstring& name, double value)
{
    AddItem(CMessageItem::Real(name, value), true);
}

void CMessageObject::AddNull(const std::wstring& name) { AddItem(CMessageItem(name), true); }

CMessageObject* CMessageObject::AddObject(const std::wstring& name, bool replace)
{
    CMessageItem item;
    item.m_name = name;
    item.m_type = Object;
    item.m_value.object = new CMessageObject(name);
    CMessageObject* child = item.m_value.object;
    AddItem(std::move(item), replace);
    return child;
}

CMessageObject* CMessageObject::AddArray(const std::wstring& name)
{
    CMessageObject* child = AddObject(name, !name.empty());
    child->m_isArray = true;
    return child;
}

void CMessageObject::AddObjectCopy(const CMessageObject& object) { AddItem(CMessageItem(object), true); }

bool CMessageObject::FindItem(const std::wstring& name, CMessageItem*& item)
{
    CMessageItem* found = Find(name);
    if (!found)
        return false;
    item = found;
    return true;
}

bool CMessageObject::FindItem(const std::wstring& name, const CMessageItem*& item) const
{
    const CMessageItem* found = Find(name);
    if (!found)
        return false;
    item = found;
    return true;
}

bool CMessageObject::GetString(const std::wstring& name, std::wstring& value) const
{
    const CMessageItem* item = Find(name);
    if (!item || item->m_type != String)
        return false;
    value = item->m_string;
    return true;
}

bool CMessageObject::GetBool(const std::wstring& name, bool& value) const
{
    const CMessageItem* item = Find(name);
    if (!item || item->m_type != Boolean)
        return false;
    value = item->m_value.boolean;
    return true;
}

bool CMessageObject::GetUInt32(const std::wstring& name, std::uint32_t& value) const
{
    const CMessageItem* item = Find(name);
    if (!item || item->m_type != Integer)
        return false;
    value = static_cast<std::uint32_t>(item->m_value.u64);
    return true;
}

bool CMessageObject::GetArray(const std::wstring& name, CMessageObject*& array)
{
    CMessageItem* item = Find(name);
    if (!item || item->m_type != Object || !item->m_value.object || !item->m_value.object->m_isArray)
        return false;
    array = item->m_value.object;
    return true;
}

bool CMessageObject::GetArray(const std::wstring& name, const CMessageObject*& array) const
{
    CMessageObject* found = nullptr;
    if (!const_cast<CMessageObject*>(this)->GetArray(name, found))
        return false;
    array = found;
    return true;
}

bool CMessageObject::RemoveItem(const std::wstring& name)
{
    const auto it = std::find_if(m_items.begin(), m_items.end(),
                                 [&](const CMessageItem& item) { return item.m_name == name; });
    if (it == m_items.end())
        return false;
    m_items.erase(it);
    return true;
}

void CMessageObject::Clear()
{
    m_items.clear();
    m_name.clear();
    m_type = Undefined;
}

bool CMessageObject::GetMessageName(std::wstring& name) const
{
    if (!m_name.empty())
    {
        name = m_name;
        return true;
    }
    const auto it = std::find_if(m_items.begin(), m_items.end(),
                                 [](const CMessageItem& item) { return item.m_type == Object; });
    if (it == m_items.end())
        return false;
    name = it->m_name;
    return true;
}
