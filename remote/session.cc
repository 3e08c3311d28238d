#include "remote/session.h"

#include "driver/connection.h"
#include "driver/tuerror.h"

#include <arpa/inet.h>
#include <poll.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

void init_ssh_session()
{
    hostent* host = gethostbyname(ssh_address.c_str());
    if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0])
        throw TUError("Failed to get network host entry");

    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(22);
    std::memcpy(&sin.sin_addr, host->h_addr_list[0],
                std::min<size_t>(host->h_length, sizeof sin.sin_addr));

    // Recorded before it is checked: a failed socket() fails connect() below.
    ssh_sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(ssh_sock, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0)
        throw TUError("Failed to connect");

    ssh_session = libssh2_session_init_ex(nullptr, nullptr, nullptr, nullptr);
    if (!ssh_session || libssh2_session_handshake(ssh_session, ssh_sock) != 0)
        throw TUError("Failure establishing SSH session");
    libssh2_session_set_blocking(ssh_session, 1);

    if (libssh2_userauth_password_ex(ssh_session, ssh_login.data(), ssh_login.size(),
                                     ssh_password, std::strlen(ssh_password), nullptr) == 0)
        return;

    const char* methods =
        libssh2_userauth_list(ssh_session, ssh_login.data(), ssh_login.size());
    if (methods && !std::strstr(methods, "password"))
        throw TUError("Unable to connect to " + ssh_address +
                      ". The server does not support password authentication method."
                      " You should ask your game hosting account provider to enable"
                      " password authentication method.");
    throw TUError("Authentication failed");
}

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
