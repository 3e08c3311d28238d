// Opens the run's SSH connection, checks the host's key (a pinned
// fingerprint, a known_hosts file) and logs in with the key or the password, all within
// the connection bound (--connect-timeout); and tells a failed connection
// apart from a failed channel once the session is up.
#pragma once

#include <string>

// Opens ssh_connection; throws TUError with the line to print.
// Whatever it made before a failure stays there for main's teardown.
void init_ssh_session();

// The same up to the end of the handshake and the host key check: no
// password is sent.
void init_ssh_handshake();

// The fingerprint of the host key the handshake negotiated.
std::string host_key_fingerprint();

// Throws TUError "Connection lost: CAUSE" when rc, a libssh2 result, says
// that the connection itself failed rather than one channel.
void check_connection(long rc);
