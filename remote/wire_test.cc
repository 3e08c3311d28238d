#include "remote/wire.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

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

TEST(WireRecv, HandsOnWhatCameInOrderAndWaitsOnlyWithNothingLeft)
{
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds), 0);
    wire = TWire();
    std::string sent;
    for (int i = 0; sent.size() < 100000; ++i)
        sent += std::to_string(i) + ",";
    ASSERT_EQ(write(fds[1], sent.data(), sent.size()), static_cast<ssize_t>(sent.size()));

    std::string got;
    char buffer[16384];
    ssize_t n;
    // libssh2 asks for less than is waiting, and a byte at a time too.
    while ((n = wire_recv(fds[0], buffer, got.size() % 3 ? sizeof buffer : 1, 0, nullptr)) > 0)
        got.append(buffer, n);
    EXPECT_EQ(n, -EAGAIN);
    EXPECT_EQ(got, sent);
    EXPECT_EQ(wire.first_bytes, sent.substr(0, 64));

    ASSERT_EQ(write(fds[1], "end", 3), 3);
    close(fds[1]);
    EXPECT_EQ(wire_recv(fds[0], buffer, sizeof buffer, 0, nullptr), 3);
    EXPECT_EQ(wire_recv(fds[0], buffer, sizeof buffer, 0, nullptr), 0);
    EXPECT_TRUE(wire.closed);
    close(fds[0]);
}
