#include "remote/connection.h"

#include "remote/bound.h"

#include <poll.h>
#include <sys/socket.h>

std::string ssh_address;
std::string ssh_host;
int ssh_port = 22;
std::string ssh_login;
const char* ssh_password = nullptr;
int ssh_connect_timeout = 30;
int run_timeout = 0;
std::string ssh_host_key;
std::string ssh_known_hosts;
TIdentity ssh_identity;
const char* ssh_key_passphrase = nullptr;
TConnection ssh_connection;

void free_channel(LIBSSH2_CHANNEL* channel)
{
    if (run_cut_short())
        ssh_connection.hurry();
    libssh2_channel_free(channel);
}

void end_session(LIBSSH2_SESSION* session)
{
    if (run_cut_short())
        libssh2_session_set_timeout(session, 500);
    // Sent even when the handshake failed; libssh2 copes and the peer may
    // still be listening.
    libssh2_session_disconnect_ex(session, SSH_DISCONNECT_BY_APPLICATION, "Normal Shutdown", "");
    libssh2_session_free(session);
}

void free_ssh_memory(void* memory) { libssh2_free(ssh_connection.session.get(), memory); }

void TConnection::close()
{
    session.reset();
    sock.reset();
}

TLastError TConnection::last_error() const
{
    char* message = nullptr;
    const int code = libssh2_session_last_error(session.get(), &message, nullptr, 0);
    return {code, message ? message : ""};
}

void TConnection::hurry() const
{
    if (session)
        libssh2_session_set_timeout(session.get(), 500);
}

void TConnection::drop() const
{
    if (sock)
        shutdown(sock.get(), SHUT_RDWR);
}

void TConnection::wait(int timeout_ms) const
{
    // Inbound is always of interest: a window adjustment or the peer's close
    // arrives that way even when libssh2 reports no direction.
    short events = POLLIN;
    if (libssh2_session_block_directions(session.get()) & LIBSSH2_SESSION_BLOCK_OUTBOUND)
        events |= POLLOUT;
    // Bounded all the same (a second unless told less): should libssh2 ever
    // hold data without a sign on the socket, the caller asks it again soon.
    // A slow command costs one wake-up a second.
    wait_fd(sock.get(), events, run_wait_ms(timeout_ms));
    check_run();
}

void close_connection() { ssh_connection.close(); }
