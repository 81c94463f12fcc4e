#pragma once
// The answer to one web API call. SetResult maps the HTTP status to a Windows error number; for an error
// status it reads the server's JSON reply and raises the reply's "Actions" as events through the action
// handler, in one batch sent with option false. A successful answer's content is kept but never parsed here.
//
// The action handler is borrowed and may be null: actions are then read but not raised.

#include "comms/IRequestResponse.h"
#include "host/IDispatcherHelper.h"

#include <cstdint>
#include <vector>

// ERROR_SUCCESS for 200-299; 304 ERROR_CONTINUE; other 3xx ERROR_INVALID_ADDRESS; 403 ERROR_ACCESS_DENIED;
// 404 ERROR_NOT_FOUND; other 4xx ERROR_BAD_NETPATH; 5xx ERROR_INVALID_SERVER_STATE; anything else (below 200,
// 600 and above) ERROR_BAD_NET_RESP.
[[nodiscard]] DWORD HttpStatusToError(DWORD status);

class WebApiResponse : public IRequestResponse
{
public:
    explicit WebApiResponse(IDispatcherHelper* actionHandler);

    void SetResult(const SYSTEMTIME& time, DWORD status, const BYTE* content, DWORD length) override;
    void AddHeader(const std::wstring& name, const std::wstring& value) override;
    [[nodiscard]] bool ParseHeaderText(const std::wstring& text) override;
    void SetHeaders(const HeaderMap& headers) override;
    [[nodiscard]] DWORD GetStatusCode() const override;
    void GetHeaders(HeaderMap& out) const override;
    SYSTEMTIME GetTime() const override;
    const BYTE* GetContent() const override;
    [[nodiscard]] DWORD GetContentLength() const override;
    const WebApiReply& GetReply() const override;

    // What raising the last SetResult's actions gave: the handler's result once a batch was handed over;
    // ERROR_NO_DATA when there was nothing to raise (no reply read, no handler, no "Actions" object, no object
    // member); ERROR_INVALID_PARAMETER when an action could not be written.
    [[nodiscard]] DWORD GetActionsResult() const { return m_actionsResult; }

private:
    [[nodiscard]] bool ReadReply();
    [[nodiscard]] DWORD ProcessActions() const;

    SYSTEMTIME m_time = {};
    DWORD m_status = 0;
    std::vector<BYTE> m_content;   // its size is the content length
    HeaderMap m_headers;
    WebApiReply m_reply;
    IDispatcherHelper* m_actionHandler;
    DWORD m_actionsResult = ERROR_NO_DATA;
};
