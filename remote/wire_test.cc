#include "remote/wire.h"

#include <gtest/gtest.h>

#include <cerrno>

TEST(DroppedBeforeLogin, OnlyAnSshPeerEndingTheConnectionEarly)
{
    const std::string full = "Exceeded MaxStartups\r\n", ssh = "SSH-2.0-OpenSSH_9.2\r\n";
    const struct {
        int rc;
        TWire seen;
        bool again;
    } cases[] = {
        {LIBSSH2_ERROR_SOCKET_RECV, {full, false, ECONNRESET}, true},
        {LIBSSH2_ERROR_SOCKET_DISCONNECT, {full, true, 0}, true},
        {LIBSSH2_ERROR_SOCKET_RECV, {"", false, ECONNRESET}, true},
        {LIBSSH2_ERROR_SOCKET_DISCONNECT, {ssh, true, 0}, true},
        {LIBSSH2_ERROR_KEX_FAILURE, {ssh, true, 0}, false},  // no common algorithm
        {LIBSSH2_ERROR_SOCKET_DISCONNECT, {"HTTP/1.1 400 Bad Request\r\n", true, 0}, false},
        {LIBSSH2_ERROR_BANNER_RECV, {"HTTP/1.1 400 Bad Request\r\n", false, 0}, false},
        {LIBSSH2_ERROR_SOCKET_RECV, {ssh, false, ETIMEDOUT}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(dropped_before_login(c.rc, c.seen), c.again) << c.rc << " " << c.seen.first_bytes;
}
