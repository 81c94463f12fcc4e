#pragma once
// What a request dispatcher delivers for one exchange: status, time, headers, content and, for an error
// answer, the server's reply. Filled once by the dispatcher, read afterwards; one thread at a time.

#include "comms/IRequest.h"
#include "message/CMessageObject.h"
#include "platform/Win.h"

#include <cstdint>
#include <string>

// The JSON reply that the server puts into the content of an error answer.
struct WebApiReply
{
    CMessageObject m_message;    // the parsed content
    std::wstring m_code;         // "Code"
    std::wstring m_messageText;  // "Message"
    std::int64_t m_serverTime = 0;   // "ServerTime"
    bool m_hasActions = false;   // an "Actions" object is present
};

class IRequestResponse
{
public:
    virtual ~IRequestResponse() = default;   // slot 0
    // Slot 1: replaces everything the response held. content may be null; the bytes are copied.
    virtual void SetResult(const SYSTEMTIME& time, DWORD status, const BYTE* content, DWORD length) = 0;
    // Slot 2: a name already present keeps its value.
    virtual void AddHeader(const std::wstring& name, const std::wstring& value) = 0;
    // Slot 3: the header map is cleared first, then filled from "Name: value" lines.
    [[nodiscard]] virtual bool ParseHeaderText(const std::wstring& text) = 0;
    virtual void SetHeaders(const HeaderMap& headers) = 0;      // slot 4
    [[nodiscard]] virtual DWORD GetStatusCode() const = 0;                    // slot 5
    virtual void GetHeaders(HeaderMap& out) const = 0;          // slot 6
    virtual SYSTEMTIME GetTime() const = 0;                     // slot 7
    virtual const BYTE* GetContent() const = 0;                 // slot 8: null when there is none
    [[nodiscard]] virtual DWORD GetContentLength() const = 0;                 // slot 9
    virtual const WebApiReply& GetReply() const = 0;            // slot 10
};
