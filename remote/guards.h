// Scope guards for the session's blocking mode and the one recorded channel.
#pragma once

#include "remote/connection.h"

#include <libssh2.h>

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

// Frees the channel recorded in ssh_channel when the scope ends, on every path.
class TChannelGuard {
public:
    TChannelGuard() = default;
    ~TChannelGuard() { free_channel(); }
    TChannelGuard(const TChannelGuard&) = delete;
    TChannelGuard& operator=(const TChannelGuard&) = delete;
};
