// Opens the run's SSH connection, checks the host's key (a pinned
// fingerprint, a known_hosts file) and logs in with the key or the password, all within
// the connection bound (--connect-timeout); and tells a failed connection
// apart from a failed channel once the session is up.
#pragma once

#include <libssh2.h>

#include <string>

// Fills ssh_sock and ssh_session; throws TUError with the line to print.
// Whatever it created before a failure stays recorded for main's teardown.
void init_ssh_session();

// The same up to the end of the handshake and the host key check: no
// password is sent.
void init_ssh_handshake();

// The fingerprint of the host key the handshake negotiated.
std::string host_key_fingerprint();

// Throws TUError "Connection lost: CAUSE" when rc, a libssh2 result, says
// that the connection itself failed rather than one channel.
void check_connection(long rc);

// Blocks until the socket is ready in the direction libssh2 is waiting for,
// or timeout_ms has passed: the caller then simply asks libssh2 again.
void wait_socket(LIBSSH2_SESSION* session, int sock, int timeout_ms = 1000);
