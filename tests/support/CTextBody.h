#pragma once
// A request body of JSON text, stored uncompressed.

#include "comms/IRequest.h"

#include <string>
#include <utility>

class CTextBody : public IRequestBody
{
public:
    explicit CTextBody(std::string text) : m_text(std::move(text)) {}
    std::wstring GetContentType() const override { return L"application/json"; }
    bool IsCompressed() const override { return false; }
    DWORD GetLength(bool) const override { return static_cast<DWORD>(m_text.size()); }
    const BYTE* GetData(bool) const override { return reinterpret_cast<const BYTE*>(m_text.data()); }

private:
    std::string m_text;
};
