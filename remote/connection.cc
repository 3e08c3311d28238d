#include "remote/connection.h"

#include "remote/bound.h"

#include <unistd.h>

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
int ssh_sock = -1;
LIBSSH2_SESSION* ssh_session = nullptr;
LIBSSH2_CHANNEL* ssh_channel = nullptr;

void free_channel()
{
    // A run cut short does not wait for the remote command's end to close
    // its channel, nor for a dead peer to take its disconnect.
    if (run_cut_short() && ssh_session)
        libssh2_session_set_timeout(ssh_session, 500);
    if (ssh_channel) {
        libssh2_channel_free(ssh_channel);
        ssh_channel = nullptr;
    }
}

void close_connection()
{
    free_channel();
    if (ssh_session) {
        // Sent even when the handshake failed; libssh2 copes and the peer
        // may still be listening.
        libssh2_session_disconnect_ex(ssh_session, SSH_DISCONNECT_BY_APPLICATION,
                                      "Normal Shutdown", "");
        libssh2_session_free(ssh_session);
        ssh_session = nullptr;
    }
    if (ssh_sock != -1) {
        close(ssh_sock);
        ssh_sock = -1;
    }
}
