#include "remote/wait.h"

#include <poll.h>

#include <cerrno>

void wait_socket(LIBSSH2_SESSION* session, int sock)
{
    int directions = libssh2_session_block_directions(session);
    pollfd pfd{};
    pfd.fd = sock;
    // Inbound is always of interest: a window adjustment or the peer's
    // close arrives that way even when libssh2 reports no direction.
    pfd.events = POLLIN;
    if (directions & LIBSSH2_SESSION_BLOCK_OUTBOUND)
        pfd.events |= POLLOUT;
    // Bounded all the same: should libssh2 ever hold data without a sign on
    // the socket, the caller asks it again within a second.  A slow command
    // costs one wake-up a second.
    while (poll(&pfd, 1, 1000) < 0 && errno == EINTR) {
    }
}
