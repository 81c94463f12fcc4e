#pragma once
// A request to the management server as the dispatchers see it: URL, verb, User-Agent, headers, body and
// the flags handed to the communications component when the request is opened. Requests are shared through
// std::shared_ptr between the caller, the dispatcher and the exchange trace; one thread uses one at a time.

#include "platform/Win.h"

#include <map>
#include <string>

// Header names compare by exact UTF-16 code units: "Accept" and "accept" are two headers.
using HeaderMap = std::map<std::wstring, std::wstring>;
// Values for the "{name}" placeholders of a URL.
using UrlParameterMap = std::map<std::wstring, std::wstring>;

// The body belongs to the caller and must outlive every holder of the request.
class IRequestBody
{
public:
    virtual ~IRequestBody() = default;                       // slot 0
    virtual std::wstring GetContentType() const = 0;         // slot 1
    [[nodiscard]] virtual bool IsCompressed() const = 0;                   // slot 2
    // Stored form, or the uncompressed form when asked.
    [[nodiscard]] virtual DWORD GetLength(bool uncompressed) const = 0;    // slot 3
    virtual const BYTE* GetData(bool uncompressed) const = 0;   // slot 4
};

class IRequest
{
public:
    virtual ~IRequest() = default;                                          // slot 0
    virtual std::wstring GetDescription() const = 0;                        // slot 1
    virtual void SetBaseUrl(const std::wstring& url) = 0;                   // slot 2
    // Empty when a placeholder is unterminated or its parameter is empty.
    virtual std::wstring GetUrl() = 0;                                      // slot 3
    virtual std::wstring GetVerb() const = 0;                               // slot 4
    virtual std::wstring GetUserAgent() const = 0;                          // slot 5
    virtual void SetUrlParameters(const UrlParameterMap& parameters) = 0;   // slot 6
    virtual IRequestBody* GetBody() const = 0;                              // slot 7
    // Adds the message id, date and Accept headers on the first call (never overwriting), then copies the
    // header set into out.
    virtual void GetHeaders(HeaderMap& out) = 0;                            // slot 8
    // The Add operations never change the value of a name already present.
    virtual void AddHeader(const std::wstring& name, const std::wstring& value) = 0;   // slot 9
    // Adds nothing unless the whole text parses.
    [[nodiscard]] virtual bool AddHeadersFromText(const std::wstring& text) = 0;          // slot 10
    virtual void AddHeaders(const HeaderMap& headers) = 0;                  // slot 11
    [[nodiscard]] virtual bool ParseHeaderText(const std::wstring& text, HeaderMap& out) const = 0;   // slot 12
    virtual void SetHeaders(const HeaderMap& headers) = 0;                  // slot 13
    virtual void SetRequestFlags(DWORD flags) = 0;                          // slot 14
    [[nodiscard]] virtual DWORD GetRequestFlags() const = 0;                              // slot 15
};
