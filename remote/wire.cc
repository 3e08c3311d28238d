#include "remote/wire.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

TWire wire;
bool wire_more = false;

namespace {

constexpr size_t kept_bytes = 64;

int wire_errno()
{
    // The bound's alarm handler may interrupt a call: an EINTR must never
    // read as a broken connection.
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
        return -EAGAIN;
    if (wire.error == 0)
        wire.error = errno;
    return -errno;
}

}  // namespace

ssize_t wire_recv(libssh2_socket_t sock, void* buffer, size_t length, int flags, void**)
{
    if (wire.ahead_at == wire.ahead_end) {
        wire.ahead.resize(256 * 1024);
        ssize_t n = recv(sock, wire.ahead.data(), wire.ahead.size(), flags);
        if (n < 0)
            return wire_errno();
        if (n == 0) {
            wire.closed = true;
            return 0;
        }
        wire.ahead_at = 0;
        wire.ahead_end = n;
        const size_t room = kept_bytes - wire.first_bytes.size();
        wire.first_bytes.append(wire.ahead.data(), std::min<size_t>(n, room));
    }
    const size_t n = std::min(length, wire.ahead_end - wire.ahead_at);
    std::memcpy(buffer, wire.ahead.data() + wire.ahead_at, n);
    wire.ahead_at += n;
    return n;
}

ssize_t wire_send(libssh2_socket_t sock, const void* buffer, size_t length, int flags, void**)
{
    // Only a channel data packet may wait for the next: a key exchange's
    // packet, sent from within the same write when the server asks for a
    // new key, is answered before any more data goes, and held back it
    // stalled each exchange until the kernel sent it after 200 ms.
    if (wire_more && length >= kMoreAtLeast)
        flags |= MSG_MORE;
    ssize_t n = send(sock, buffer, length, flags);
    return n < 0 ? wire_errno() : n;
}

// OpenSSH drops unauthenticated connections past MaxStartups: it closes or
// resets them at once, maybe after a line saying so, before or during the
// key exchange.  Such a connection is worth another try when the handshake
// failed on the socket itself.  A peer that said anything else is not an
// SSH server, one that stopped talking is no drop, and a key exchange that
// failed on its merits (no common algorithm) fails again.
bool dropped_before_login(int rc, const TWire& seen)
{
    const bool on_socket = rc == LIBSSH2_ERROR_SOCKET_RECV || rc == LIBSSH2_ERROR_SOCKET_SEND ||
                           rc == LIBSSH2_ERROR_SOCKET_DISCONNECT;
    const bool ended = seen.closed || seen.error == ECONNRESET || seen.error == EPIPE;
    const std::string& said = seen.first_bytes;
    return on_socket && ended &&
           (said.empty() || said.starts_with("SSH-") || said.starts_with("Exceeded MaxStartups"));
}
