// The port check command line, run under the local sh against sockets that
// the test binds itself: the local kernel tables stand in for the remote.
#include "commands/ports.h"

#include "tests/process.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

using namespace fixture;

namespace {

// A socket bound to a port the kernel picks; TCP sockets also listen.
class TSocket {
public:
    TSocket(int family, int type, const char* address)
    {
        fd_ = socket(family, type, 0);
        if (fd_ < 0)
            throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
        sockaddr_storage ss{};
        socklen_t len;
        if (family == AF_INET) {
            auto* sin = reinterpret_cast<sockaddr_in*>(&ss);
            sin->sin_family = AF_INET;
            inet_pton(AF_INET, address, &sin->sin_addr);
            len = sizeof *sin;
        } else {
            int one = 1;
            setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
            auto* sin6 = reinterpret_cast<sockaddr_in6*>(&ss);
            sin6->sin6_family = AF_INET6;
            inet_pton(AF_INET6, address, &sin6->sin6_addr);
            len = sizeof *sin6;
        }
        if (bind(fd_, reinterpret_cast<sockaddr*>(&ss), len) != 0 ||
            (type == SOCK_STREAM && listen(fd_, 1) != 0) ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len) != 0)
            throw std::runtime_error(std::string("bind ") + address + ": " + std::strerror(errno));
        port_ = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&ss)->sin_port
                                        : reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    }
    ~TSocket() { close(); }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    std::string port() const { return std::to_string(port_); }

private:
    int fd_ = -1;
    int port_ = 0;
};

// The check must say nothing on either stream, whatever the answer.
bool in_use(const std::string& port)
{
    TProc r = sh(port_using_command(port));
    EXPECT_EQ(r.out, "") << port;
    EXPECT_EQ(r.err, "") << port;
    EXPECT_TRUE(r.status == 0 || r.status == 1) << port << ": " << r.status;
    return r.status == 0;
}

}  // namespace

TEST(PortUsing, SocketsOnEveryAddressCount)
{
    struct {
        int family, type;
        const char* address;
    } cases[] = {
        {AF_INET, SOCK_STREAM, "127.0.0.1"},   {AF_INET, SOCK_DGRAM, "127.0.0.1"},
        {AF_INET, SOCK_STREAM, "0.0.0.0"},     {AF_INET, SOCK_DGRAM, "0.0.0.0"},
        {AF_INET, SOCK_STREAM, "127.10.20.30"}, {AF_INET, SOCK_DGRAM, "127.171.205.239"},
        {AF_INET6, SOCK_STREAM, "::1"},        {AF_INET6, SOCK_DGRAM, "::1"},
        {AF_INET6, SOCK_STREAM, "::"},         {AF_INET6, SOCK_DGRAM, "::"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + (c.type == SOCK_STREAM ? " tcp" : " udp"));
        TSocket s(c.family, c.type, c.address);
        std::string port = s.port();
        EXPECT_TRUE(in_use(port));
        // Leading zeros name the same port.
        EXPECT_TRUE(in_use("00" + port));
        EXPECT_FALSE(in_use(std::to_string(std::stoi(port) + 65536)));
        s.close();
        EXPECT_FALSE(in_use(port));
    }
}

TEST(PortUsing, TextThatIsNoPortIsFree)
{
    TSocket s(AF_INET, SOCK_STREAM, "127.0.0.1");
    for (std::string port : {std::string(""), std::string("abc"), s.port() + "x", " " + s.port(),
                             "+" + s.port(), s.port() + ".0", std::string("-1"),
                             std::string("0x50"), std::string("99999999999999999999999")})
        EXPECT_FALSE(in_use(port)) << "'" << port << "'";
}

TEST(PortUsing, NoPortValueRunsAnything)
{
    TTempDir d;
    const std::string mark = d.path() + "/ran";
    const std::string values[] = {
        "0; system(\"touch " + mark + "\")",
        "1) } BEGIN { system(\"touch " + mark + "\") } { (1",
        "0\"; system(\"touch " + mark + "\"); \"",
        "'; touch " + mark + "; '",
        "$(touch " + mark + ")",
        "`touch " + mark + "`",
        "80\ntouch " + mark,
        "\\\" ; touch " + mark,
    };
    for (const auto& port : values) {
        EXPECT_FALSE(in_use(port)) << port;
        EXPECT_NE(sh("test -e " + mark).status, 0) << "ran with: " << port;
    }
}
