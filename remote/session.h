// Opens the run's SSH connection to port 22 and logs in with the password.
#pragma once

#include <libssh2.h>

// Fills ssh_sock and ssh_session; throws TUError with the line to print.
// Whatever it created before a failure stays recorded for main's teardown.
void init_ssh_session();

// Blocks until the socket is ready in the direction libssh2 is waiting for,
// or a second has passed: the caller then simply asks libssh2 again.
void wait_socket(LIBSSH2_SESSION* session, int sock);
