// The run's single SSH connection, shared process-wide: main fills the
// parameters, a handler connects lazily, and main tears everything down
// once at the end of the run, after success and failure alike.
#pragma once

#include "remote/identity.h"

#include <libssh2.h>

#include <string>

extern std::string ssh_address;  // as given, for messages
extern std::string ssh_host;     // the address's host, without brackets
extern int ssh_port;
extern std::string ssh_login;
extern const char* ssh_password;  // points into the environment, not copied; may be null with a key
extern int ssh_connect_timeout;   // seconds for connecting and logging in
extern int run_timeout;           // seconds for the whole run; 0: the command's own bound
extern std::string ssh_host_key;  // the expected fingerprint; empty accepts any key
extern std::string ssh_known_hosts;  // the known_hosts file; empty: none
extern TIdentity ssh_identity;       // path empty: log in with the password only
extern const char* ssh_key_passphrase;  // from the environment, or null
extern int ssh_sock;
extern LIBSSH2_SESSION* ssh_session;
extern LIBSSH2_CHANNEL* ssh_channel;

// Frees the channel recorded in ssh_channel, if any.
void free_channel();

// Channel, session (with a disconnect message), socket, in that order.
void close_connection();
