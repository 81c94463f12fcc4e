#pragma once
// The fixture's HTTP server: cpp-httplib's, serving each connection on one pool thread, with what a test
// fixture needs on top. The request head is kept as it came (the library's own header map is sorted by
// name and mixes in headers of its own); open connections can be cut, so that a stop is prompt even with
// kept-alive clients; onIdle is called whenever the accept loop has been idle for a moment.

#include <httplib.h>

#include <functional>
#include <mutex>
#include <set>

class CRecordingServer : public httplib::Server
{
public:
    explicit CRecordingServer(std::function<void()> onIdle);

    // The bytes read so far on this thread's connection for its current request (the head, then what the
    // body parser took): "" outside a handler.
    static std::string CurrentRequestBytes();
    // Closes this thread's connection under the handler: whatever is answered then goes nowhere.
    static void DropCurrentConnection();

    // Shuts down every connection still open, ending waits for a next request on them.
    void CutConnections();

private:
    bool process_and_close_socket(socket_t sock) override;
    bool NextRequestComes(socket_t sock) const;

    std::mutex m_socketsMutex;
    std::set<socket_t> m_sockets;
};
