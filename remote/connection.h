// The run's single SSH connection, shared process-wide: main fills the
// parameters, a handler connects lazily, and main tears everything down
// once at the end of the run, after success and failure alike.  Each
// libssh2 object has one owner: the connection owns the socket and the
// session, a TChannel its channel, which lives within a call and so is
// always freed before the session.
#pragma once

#include "remote/identity.h"
#include "remote/io.h"

#include <libssh2.h>

#include <string>

extern std::string ssh_address;  // as given, for messages
extern std::string ssh_host;     // the address's host, without brackets
extern int ssh_port;
extern std::string ssh_login;
extern const char*
    ssh_password;  // points into the environment or the secrets, not copied; may be null with a key
extern int ssh_connect_timeout;         // seconds for connecting and logging in
extern int run_timeout;                 // seconds for the whole run; 0: the command's own bound
extern std::string ssh_host_key;        // the expected fingerprint; empty accepts any key
extern std::string ssh_known_hosts;     // the known_hosts file; empty: none
extern TIdentity ssh_identity;          // path empty: log in with the password only
extern const char* ssh_key_passphrase;  // from the secrets or the environment, or null

// A run cut short waits for neither the remote command's end nor a dead
// peer when it frees a channel or the session.
void free_channel(LIBSSH2_CHANNEL* channel);
void end_session(LIBSSH2_SESSION* session);  // with a disconnect message
using TChannel = TOwned<LIBSSH2_CHANNEL*, free_channel, nullptr>;
using TSession = TOwned<LIBSSH2_SESSION*, end_session, nullptr>;

// Memory libssh2 hands over (a list of names, a signal's name).
void free_ssh_memory(void* memory);
using TSshMemory = TOwned<void*, free_ssh_memory, nullptr>;

// Switches the session to non-blocking for its lifetime.
class TNonBlocking {
public:
    explicit TNonBlocking(LIBSSH2_SESSION* session) : session_(session)
    {
        libssh2_session_set_blocking(session_, 0);
    }
    ~TNonBlocking() { libssh2_session_set_blocking(session_, 1); }
    TNonBlocking(const TNonBlocking&) = delete;
    TNonBlocking& operator=(const TNonBlocking&) = delete;

private:
    LIBSSH2_SESSION* session_;
};

// What libssh2 says of the session's last failure.
struct TLastError {
    int code;
    std::string message;
};

struct TConnection {
    TFd sock;
    TSession session;  // declared after the socket: freed before it

    // Session, then socket.
    void close();
    TLastError last_error() const;
    // From now on a blocking call gives up on the peer after half a second.
    void hurry() const;
    // Ends the connection under libssh2: the channel's and the session's
    // ends then fail at once instead of waiting for a peer given up on.
    void drop() const;
    // Blocks until the socket is ready in the direction libssh2 is waiting
    // for, or timeout_ms has passed: the caller then simply asks libssh2
    // again.  Throws at the run's bound or interruption.
    void wait(int timeout_ms = 1000) const;

    // Calls a non-blocking libssh2 step until it no longer says EAGAIN,
    // waiting on the socket in between for what wait_ms() allows, which may
    // throw at a deadline of its own; a negative wait_ms() hands back the
    // EAGAIN instead.
    template <class Step, class WaitMs> auto until_done(Step step, WaitMs wait_ms) const
    {
        for (;;) {
            const auto rc = step();
            if (rc != LIBSSH2_ERROR_EAGAIN)
                return rc;
            const int ms = wait_ms();
            if (ms < 0)
                return rc;
            wait(ms);
        }
    }
    template <class Step> auto until_done(Step step) const
    {
        return until_done(step, [] { return 1000; });
    }
};

extern TConnection ssh_connection;

// The connection's close, for main's teardown.
void close_connection();
