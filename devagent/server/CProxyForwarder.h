#pragma once
// The fixture as an explicit proxy: requests meant for another server are passed on to it, or answered
// with one reply the test set (a 407, say). Only loopback targets are forwarded; the rest get 502. The
// request goes on with its headers in the order and spelling sent, without the hop-by-hop ones; the
// status, headers and body come back as the target answered. Thread-safe.

#include "CReplyScript.h"

#include <mutex>
#include <string>

class CProxyForwarder
{
public:
    // Wine's WinHTTP keeps the origin form when proxy and server share a host name and differ only by port:
    // a Host header naming another loopback port than ownPort marks rec as meant for that server.
    static void NoticeOtherPort(CRecordedRequest& rec, unsigned short ownPort);

    void SetReply(const CScriptedReply& reply);
    void ClearReply();

    // For a request with viaProxy set: the scripted reply, else the target's answer.
    CScriptedReply Answer(const CRecordedRequest& rec);

private:
    static CScriptedReply Forward(const CRecordedRequest& rec);

    std::mutex m_mutex;
    bool m_hasReply = false;
    CScriptedReply m_reply;
};
