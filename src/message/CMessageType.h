#pragma once
// The common base of message items and message objects: a name and a type code.

#include <cstdint>
#include <string>

enum MessageItemType : std::int32_t
{
    Undefined = 0,
    Integer = 1, // 64-bit, signed or unsigned (CMessageItem::m_unsigned)
    Double = 2,
    Boolean = 3,
    String = 4,
    Object = 5, // owns a nested CMessageObject, which may be flagged as an array
    Null = 6,
};

class CMessageType
{
public:
    CMessageType() = default;
    CMessageType(std::wstring name, std::int32_t type) : m_name(std::move(name)), m_type(type) {}
    CMessageType(const CMessageType&) = default;
    CMessageType& operator=(const CMessageType&) = default;
    virtual ~CMessageType() = default;

    std::wstring m_name;
    std::int32_t m_type = Undefined; // a MessageItemType code
};

// JSON text of an item or an object.
class ISerializableClass
{
public:
    virtual ~ISerializableClass() = default;
    // UTF-8 form of Serialize; false if writing or the conversion fails.
    [[nodiscard]] virtual bool SerializeUtf8(std::string& out) const = 0;
    // False, with nothing delivered, when an item in the tree cannot be written (Undefined).
    [[nodiscard]] virtual bool Serialize(std::wstring& out) const = 0;
};
