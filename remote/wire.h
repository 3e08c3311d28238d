// What the socket saw of the peer on the run's connection, which libssh2
// does not keep: the errno of a failure, the peer's close, the first bytes
// it sent.  libssh2 reads and writes through wire_recv and wire_send.
#pragma once

#include <libssh2.h>

#include <string>
#include <vector>

struct TWire {
    std::string first_bytes;  // the start of what the peer sent
    bool closed = false;      // it closed the connection
    int error = 0;            // errno of the first failed send or receive, the cause
    // Read ahead of libssh2, which asks for 16 KiB at a time: a download
    // then costs a tenth of the system calls.  libssh2 waits on the socket
    // only after a receive found nothing, so nothing is ever left waiting
    // here while it waits.
    std::vector<char> ahead{};
    size_t ahead_at = 0, ahead_end = 0;
};

extern TWire wire;  // of the current connection; reset for each new one

// Set while more of a transfer follows at once: the kernel may then hold a
// packet back to send it in one segment with the next.
extern bool wire_more;
// The least a send must be to go with MSG_MORE: half a channel data packet.
constexpr size_t kMoreAtLeast = 16384;

ssize_t wire_recv(libssh2_socket_t sock, void* buffer, size_t length, int flags, void**);
ssize_t wire_send(libssh2_socket_t sock, const void* buffer, size_t length, int flags, void**);

// Whether a handshake that failed with rc, the peer having done what seen
// shows, is a connection dropped before login and worth another try.
bool dropped_before_login(int rc, const TWire& seen);
