#include "comms/WebApiResponse.h"

#include "comms/WebApiRequest.h"
#include "host/Trace.h"
#include "platform/TextUtil.h"
#include "platform/Uuid.h"

#include <new>
#include <string>
#include <utility>

TRACE_UNIT("eb41cae1-c610-4267-8aa8-2ad5caf00cc1");

namespace
{

constexpr wchar_t kActionsEventSource[] = L"WebApiResponse Actions from Velnor Server";
constexpr wchar_t kActionsKey[] = L"Actions";
constexpr wchar_t kCodeKey[] = L"Code";
constexpr wchar_t kMessageKey[] = L"Message";
constexpr wchar_t kServerTimeKey[] = L"ServerTime";

// An object with named members; arrays do not count.
bool IsPlainObject(const CMessageItem& item)
{
    return item.m_type == Object && item.m_value.object != nullptr && !item.m_value.object->IsArray();
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case; empty when no UUID can be made.
std::wstring NewBracedUuid()
{
    std::wstring id;
    // A local-only UUID is still unique on this machine, which is all an event id needs.
    const RPC_STATUS status = NewUuidText(id, true);
    if (status != RPC_S_OK && status != RPC_S_UUID_LOCAL_ONLY)
        TRACE_ERROR(kTraceFlagEvents, 10, "cannot create an event id: status %d", static_cast<int>(status));
    return id;
}

// The batch's texts, each only when it has one, except the id, which every event carries.
void Stamp(CMessageObject& action, const CMessageBatch& batch)
{
    action.AddString(L"EventId", batch.eventId);
    const std::pair<const wchar_t*, const std::wstring*> optional[] = {
        {L"EventSource", &batch.eventSource},
        {L"EventSchedulerId", &batch.eventSchedulerId},
        {L"SchedulerExecutionTime", &batch.schedulerExecutionTime},
    };
    for (const auto& [key, value] : optional)
        if (!value->empty())
            action.AddString(key, *value);
}

bool IsBracketed(const std::wstring& text)
{
    return !text.empty() && (text.front() == L'{' || text.front() == L'[') &&
           (text.back() == L'}' || text.back() == L']');
}

} // namespace

DWORD HttpStatusToError(DWORD status)
{
    if (status >= 200 && status <= 299)
        return ERROR_SUCCESS;
    if (status == 304)
        return ERROR_CONTINUE;
    if (status >= 300 && status <= 399)
        return ERROR_INVALID_ADDRESS;
    if (status == 403)
        return ERROR_ACCESS_DENIED;
    if (status == 404)
        return ERROR_NOT_FOUND;
    if (status >= 400 && status <= 499)
        return ERROR_BAD_NETPATH;
    if (status >= 500 && status <= 599)
        return ERROR_INVALID_SERVER_STATE;
    return ERROR_BAD_NET_RESP;
}

WebApiResponse::WebApiResponse(IDispatcherHelper* actionHandler) : m_actionHandler(actionHandler) {}

void WebApiResponse::SetResult(const SYSTEMTIME& time, DWORD status, const BYTE* content, DWORD length)
{
    m_time = time;
    m_status = status;
    std::vector<BYTE>().swap(m_content);
    m_headers.clear();
    m_reply = WebApiReply();
    m_actionsResult = ERROR_NO_DATA;
    // Without bytes there is no content, whatever the length says: a null buffer with a length would invite
    // readers past it.
    if (content != nullptr && length != 0)
    {
        try
        {
            m_content.assign(content, content + length);
        }
        catch (const std::bad_alloc&)
        {
            std::vector<BYTE>().swap(m_content);
            TRACE_ERROR(kTraceFlagEvents, 11, "cannot keep %u content bytes of HTTP status %u", length, status);
        }
    }

    const DWORD error = HttpStatusToError(status);
    if (error == ERROR_SUCCESS)
    {
        TRACE_VERBOSE(kTraceFlagEvents, 12, "HTTP status %u: success", status);
        return;
    }
    TRACE_ERROR(kTraceFlagEvents, 13, "HTTP status %u: error %u", status, error);
    if (m_content.empty())
        return;

    bool read = false;
    try
    {
        read = ReadReply();
    }
    catch (const std::bad_alloc&)
    {
        m_reply = WebApiReply();
        TRACE_ERROR(kTraceFlagEvents, 14, "no memory to read a reply of %zu bytes", m_content.size());
        return;
    }
    if (!read || !m_reply.m_hasActions)
        return;
    if (m_actionHandler == nullptr)
    {
        TRACE_WARNING(kTraceFlagEvents, 15, "reply actions not raised: no action handler");
        return;
    }
    try
    {
        m_actionsResult = ProcessActions();
    }
    catch (const std::bad_alloc&)
    {
        m_actionsResult = ERROR_NOT_ENOUGH_MEMORY;
        TRACE_ERROR(kTraceFlagEvents, 16, "no memory to raise the reply actions");
    }
}

bool WebApiResponse::ReadReply()
{
    const std::string text(reinterpret_cast<const char*>(m_content.data()), m_content.size());
    if (!m_reply.m_message.FromUtf8Json(text))
    {
        TRACE_ERROR(kTraceFlagEvents, 17, "error reply of %zu bytes is not JSON", m_content.size());
        return false;
    }
    const CMessageItem* actions = nullptr;
    m_reply.m_hasActions = m_reply.m_message.FindItem(kActionsKey, actions) && IsPlainObject(*actions);

    std::wstring code;
    std::wstring messageText;
    std::wstring serverTime;
    if (!m_reply.m_message.GetString(kCodeKey, code) || !m_reply.m_message.GetString(kMessageKey, messageText) ||
        !m_reply.m_message.GetString(kServerTimeKey, serverTime))
    {
        TRACE_ERROR(kTraceFlagEvents, 18, "error reply lacks a text Code, Message or ServerTime");
        return false;
    }
    m_reply.m_code = std::move(code);
    m_reply.m_messageText = std::move(messageText);
    std::int32_t seconds = 0;
    static_cast<void>(ReadLeadingInt32(serverTime, seconds));   // no digits read as 0
    m_reply.m_serverTime = seconds;
    TRACE_INFO(kTraceFlagEvents, 19, "server reply: code %ls, message %ls, server time %lld", m_reply.m_code,
               m_reply.m_messageText, static_cast<long long>(m_reply.m_serverTime));
    return true;
}

DWORD WebApiResponse::ProcessActions() const
{
    CMessageBatch batch;
    batch.eventSource = kActionsEventSource;
    batch.eventId = NewBracedUuid();

    const CMessageItem* actions = nullptr;
    if (!m_reply.m_message.FindItem(kActionsKey, actions) || !IsPlainObject(*actions))
    {
        TRACE_ERROR(kTraceFlagEvents, 20, "reply has no Actions object");
        return ERROR_NO_DATA;
    }
    for (const CMessageItem& member : actions->m_value.object->Items())
    {
        // An array has no members to stamp: an "EventId" added to it would make its text invalid JSON.
        if (!IsPlainObject(member))
            continue;
        const CMessageObject& action = *member.m_value.object;
        std::wstring text;
        if (!action.Serialize(text))
        {
            TRACE_ERROR(kTraceFlagEvents, 21, "action %ls cannot be written as JSON", member.m_name);
            return ERROR_INVALID_PARAMETER;
        }
        CMessageObject stamped(action);
        Stamp(stamped, batch);
        // A named action writes as "name":{...}, which is no event on its own: it goes into an unnamed object.
        if (IsBracketed(text))
        {
            batch.objects.push_back(std::move(stamped));
        }
        else
        {
            CMessageObject wrapper;
            wrapper.AddObjectCopy(stamped);
            batch.objects.push_back(std::move(wrapper));
        }
    }
    if (batch.objects.empty())
    {
        TRACE_ERROR(kTraceFlagEvents, 22, "reply Actions hold no action object");
        return ERROR_NO_DATA;
    }
    const DWORD sent = m_actionHandler->SendObjects(batch, false);
    if (sent != ERROR_SUCCESS)
        TRACE_ERROR(kTraceFlagEvents, 23, "cannot raise %zu reply actions: error %u", batch.objects.size(), sent);
    else
        TRACE_VERBOSE(kTraceFlagEvents, 24, "%zu reply actions raised as event %ls", batch.objects.size(),
                      batch.eventId);
    return sent;
}

void WebApiResponse::AddHeader(const std::wstring& name, const std::wstring& value)
{
    m_headers.emplace(name, value);
}

bool WebApiResponse::ParseHeaderText(const std::wstring& text)
{
    m_headers.clear();
    return ParseHeaderLines(text, m_headers);
}

void WebApiResponse::SetHeaders(const HeaderMap& headers)
{
    m_headers = headers;
}

DWORD WebApiResponse::GetStatusCode() const
{
    return m_status;
}

void WebApiResponse::GetHeaders(HeaderMap& out) const
{
    out = m_headers;
}

SYSTEMTIME WebApiResponse::GetTime() const
{
    return m_time;
}

const BYTE* WebApiResponse::GetContent() const
{
    return m_content.empty() ? nullptr : m_content.data();
}

DWORD WebApiResponse::GetContentLength() const
{
    return static_cast<DWORD>(m_content.size());
}

const WebApiReply& WebApiResponse::GetReply() const
{
    return m_reply;
}
