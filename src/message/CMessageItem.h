#pragma once
// One named, typed value of a message. Callers read the fields directly, after checking m_type.
// An Object item owns its nested object exclusively: copies are deep, moves transfer it and leave the
// source empty (no name, Undefined, zero value).

#include "message/CMessageType.h"

#include <cstdint>
#include <string>

class CMessageObject;

class CMessageItem : public CMessageType, public ISerializableClass
{
public:
    CMessageItem() = default;                              // Undefined, no name
    explicit CMessageItem(std::wstring name);              // Null
    CMessageItem(std::wstring name, bool value);           // Boolean
    CMessageItem(std::wstring name, std::wstring value);   // String
    CMessageItem(std::wstring name, const wchar_t* value); // String; a null pointer gives an empty text
    CMessageItem(std::wstring name, std::uint32_t value);  // Integer, unsigned
    CMessageItem(std::wstring name, std::uint64_t value);  // Integer, unsigned
    explicit CMessageItem(const CMessageObject& object);   // Object named after it, holding a deep copy

    static CMessageItem Int64(std::wstring name, std::int64_t value); // Integer, signed
    static CMessageItem Real(std::wstring name, double value);        // Double

    CMessageItem(const CMessageItem& other);
    CMessageItem(CMessageItem&& other) noexcept;
    CMessageItem& operator=(const CMessageItem& other);
    CMessageItem& operator=(CMessageItem&& other) noexcept;
    ~CMessageItem() override;

    [[nodiscard]] bool SerializeUtf8(std::string& out) const override;
    [[nodiscard]] bool Serialize(std::wstring& out) const override;

    // Appends the item's text to out; false when the item cannot be written (out is then partial).
    [[nodiscard]] bool AppendJson(std::wstring& out) const;

    std::wstring m_string;   // String
    bool m_unsigned = false; // Integer: the value is unsigned
    union Value
    {
        std::int64_t i64;
        std::uint64_t u64;
        double dbl;
        bool boolean;           // low byte of the cell
        CMessageObject* object; // owned
    } m_value = {};

private:
    void Destroy() noexcept;
};
