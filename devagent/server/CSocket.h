#pragma once
// One owner for a socket: on release it is shut down both ways, then closed.

#include "platform/CUniqueHandle.h"

#include <winsock2.h>

struct SocketTraits
{
    static SOCKET None() noexcept { return INVALID_SOCKET; }
    static void Close(SOCKET socket) noexcept
    {
        ::shutdown(socket, SD_BOTH);
        ::closesocket(socket);
    }
};

using CSocket = CUniqueHandle<SOCKET, SocketTraits>;
