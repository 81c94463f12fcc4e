#pragma once
// A named, ordered list of message items, optionally flagged as a JSON array.
//
// Add operations replace an existing item of the same name in place on a plain object (the first match,
// keeping its position) and always append on an array. Getters return false on a missing name or on a type
// mismatch, never convert, and leave their output untouched. Pointers to nested objects stay valid until
// their item is removed or replaced; pointers to items only until the next insertion or removal.

#include "message/CMessageItem.h"

#include <cstdint>
#include <string>
#include <vector>

class CMessageObject : public CMessageType, public ISerializableClass
{
public:
    explicit CMessageObject(std::wstring name = std::wstring());
    CMessageObject(const CMessageObject& other) = default;
    CMessageObject(CMessageObject&& other) noexcept;
    CMessageObject& operator=(const CMessageObject& other) = default;
    CMessageObject& operator=(CMessageObject&& other) noexcept;
    ~CMessageObject() override = default;

    void AddItem(CMessageItem item, bool replace);
    [[nodiscard]] bool AddItem(const CMessageItem* item); // copies it, replacing by name; false for nullptr

    void AddString(const std::wstring& name, const std::wstring& value);
    void AddBool(const std::wstring& name, bool value);
    void AddInt32(const std::wstring& name, std::int32_t value);
    void AddUInt32(const std::wstring& name, std::uint32_t value);
    void AddInt64(const std::wstring& name, std::int64_t value);
    void AddUInt64(const std::wstring& name, std::uint64_t value);
    void AddDouble(const std::wstring& name, double value);
    void AddNull(const std::wstring& name);

    // The new, empty child, owned by this object.
    CMessageObject* AddObject(const std::wstring& name, bool replace);
    // A new array child; replaces an item of the same name only when the name is non-empty.
    CMessageObject* AddArray(const std::wstring& name);
    void AddObjectCopy(const CMessageObject& object);

    // Lookups: false when the name is absent or of another type, the output then untouched. Optional members are
    // read without looking at the answer, so these carry no [[nodiscard]].
    bool FindItem(const std::wstring& name, CMessageItem*& item);
    bool FindItem(const std::wstring& name, const CMessageItem*& item) const;
    bool GetString(const std::wstring& name, std::wstring& value) const;
    bool GetBool(const std::wstring& name, bool& value) const;
    bool GetUInt32(const std::wstring& name, std::uint32_t& value) const; // low 32 bits of any Integer
    bool GetArray(const std::wstring& name, CMessageObject*& array);
    bool GetArray(const std::wstring& name, const CMessageObject*& array) const;
    bool RemoveItem(const std::wstring& name);

    // Removes every item and the name, sets the type to Undefined; the array flag stays.
    void Clear();
    // The object's own name, else the name of its first Object item; false when neither exists.
    [[nodiscard]] bool GetMessageName(std::wstring& name) const;

    const std::vector<CMessageItem>& Items() const { return m_items; }
    [[nodiscard]] bool IsArray() const { return m_isArray; }
    void SetArray(bool isArray) { m_isArray = isArray; }

    [[nodiscard]] bool SerializeUtf8(std::string& out) const override;
    [[nodiscard]] bool Serialize(std::wstring& out) const override;
    // Parse JSON text; on success the whole content is replaced (name empty, type Object), on failure the
    // object is left exactly as it was. Nesting deeper than kMaxJsonDepth fails.
    [[nodiscard]] bool FromJson(const std::wstring& text);
    [[nodiscard]] bool FromUtf8Json(const std::string& text);

    [[nodiscard]] bool AppendJson(std::wstring& out) const;

    static constexpr unsigned kMaxJsonDepth = 512;

private:
    CMessageItem* Find(const std::wstring& name);
    const CMessageItem* Find(const std::wstring& name) const;

    std::vector<CMessageItem> m_items;
    bool m_isArray = false;

    friend class CJsonReader;
};
