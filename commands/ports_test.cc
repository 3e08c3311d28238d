// The port check command line, run under the local sh against sockets that
// the test binds itself: the local kernel tables stand in for the remote.
#include "commands/ports.h"

#include "tests/process.h"

#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace fixture;

namespace {

// Binds a socket, put in fd, to a port the kernel picks: the port, or -1.
// TCP sockets also listen.
int bind_any(const char* address, int type, int& fd)
{
    addrinfo hints{}, *ai = nullptr;
    hints.ai_flags = AI_NUMERICHOST;
    hints.ai_socktype = type;
    sockaddr_in6 bound{};  // sin_port and sin6_port share their offset
    socklen_t len = sizeof bound;
    if (getaddrinfo(address, "0", &hints, &ai) != 0)
        return -1;
    fd = socket(ai->ai_family, type, 0);
    bool ok = fd >= 0 && bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 &&
              (type != SOCK_STREAM || listen(fd, 1) == 0) &&
              getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len) == 0;
    freeaddrinfo(ai);
    return ok ? ntohs(bound.sin6_port) : -1;
}

// The check must say nothing on either stream, whatever the answer.
bool in_use(const std::string& port)
{
    TProc r = sh(port_using_command(port));
    EXPECT_EQ(r.out + r.err, "") << port;
    EXPECT_TRUE(r.status == 0 || r.status == 1) << port << ": " << r.status;
    return r.status == 0;
}

}  // namespace

TEST(PortUsing, SocketsOnEveryAddressCount)
{
    for (const char* address : {"127.0.0.1", "0.0.0.0", "127.171.205.239", "::1", "::"})
        for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
            SCOPED_TRACE(std::string(address) + (type == SOCK_STREAM ? " tcp" : " udp"));
            int fd = -1;
            int port = bind_any(address, type, fd);
            ASSERT_GT(port, 0);
            EXPECT_TRUE(in_use(std::to_string(port)));
            EXPECT_TRUE(in_use("00" + std::to_string(port)));  // the same port
            EXPECT_FALSE(in_use(std::to_string(port + 65536)));
            close(fd);
            EXPECT_FALSE(in_use(std::to_string(port)));
        }
}

TEST(PortUsing, TextThatIsNoPortIsFreeAndRunsNothing)
{
    int fd = -1;
    const std::string port = std::to_string(bind_any("127.0.0.1", SOCK_STREAM, fd));
    TTempDir d;
    const std::string touch = "touch " + d.path() + "/ran";
    for (const std::string& text :
         {std::string(""), std::string("abc"), port + "x", " " + port, "+" + port, port + ".0",
          std::string("-1"), std::string("0x50"), std::string("99999999999999999999999"),
          "0; system(\"" + touch + "\")", "1) } BEGIN { system(\"" + touch + "\") } { (1",
          "0\"; system(\"" + touch + "\"); \"", "'; " + touch + "; '", "$(" + touch + ")",
          "`" + touch + "`", "80\n" + touch, "\\\" ; " + touch}) {
        EXPECT_FALSE(in_use(text)) << text;
        EXPECT_NE(sh("test -e " + d.path() + "/ran").status, 0) << "ran with: " << text;
    }
    close(fd);
}
