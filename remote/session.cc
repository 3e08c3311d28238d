#include "remote/session.h"

#include "remote/bound.h"
#include "remote/connection.h"
#include "remote/fingerprint.h"
#include "remote/error.h"
#include "remote/known_hosts.h"
#include "remote/wire.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

const char connect_failed[] = "Failed to connect";
const char handshake_failed[] = "Failure establishing SSH session";
const char login_failed[] = "Authentication failed";

// The bound on the whole connection phase: every wait in it ends by the
// deadline, and the step then waiting is reported with the bound.
class TDeadline {
public:
    explicit TDeadline(int seconds)
        : seconds_(seconds), end_(TClock::now() + std::chrono::seconds(seconds))
    {
    }

    // Milliseconds left; 0 once the deadline has passed.
    int left_ms() const
    {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end_ - TClock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

    [[noreturn]] void expire(const char* step) const
    {
        throw TUError(TCode::timeout,
                      std::string(step) + ": no answer in " + std::to_string(seconds_) + " s")
            .in("connect");
    }

private:
    int seconds_;
    TClock::time_point end_;
};

// A peer that vanishes without a FIN or a reset is given up after about a
// minute: keepalive probes start after 30 s of silence, every 10 s, and
// three unanswered end it.  Probes are not sent while sent data waits for
// its acknowledgement; the user time-out bounds that wait the same way.
void keep_alive(int fd)
{
    const int on = 1, idle = 30, interval = 10, count = 3;
    const unsigned user_timeout_ms = (idle + interval * count) * 1000;
    if (setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) != 0 ||
        setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &user_timeout_ms, sizeof user_timeout_ms) !=
            0)
        throw TUError(TCode::connect,
                      std::string(connect_failed) + ": setsockopt: " + std::strerror(errno));
}

// Tries each address in turn until one accepts; all of them together get
// no more than the deadline.
TFd connect_tcp(const addrinfo* addresses, const TDeadline& deadline)
{
    for (const addrinfo* a = addresses; a; a = a->ai_next) {
        TFd sock(
            socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
        if (!sock)
            continue;
        if (connect(sock.get(), a->ai_addr, a->ai_addrlen) != 0) {
            if (errno != EINPROGRESS)
                continue;
            for (;;) {
                check_run();
                if (wait_fd(sock.get(), POLLOUT, run_wait_ms(std::min(deadline.left_ms(), 1000))))
                    break;
                if (deadline.left_ms() == 0)
                    deadline.expire(connect_failed);
            }
            int error = 0;
            socklen_t size = sizeof error;
            if (getsockopt(sock.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
                continue;
        }
        keep_alive(sock.get());
        // libssh2 sends a step's packets one by one; Nagle would hold each
        // behind the peer's delayed acknowledgement (40 ms on Linux).
        const int on = 1;
        setsockopt(sock.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        return sock;
    }
    throw TUError(TCode::connect, connect_failed);
}

// Calls a non-blocking libssh2 step until it is done, waiting on the socket
// in between, at most until the deadline.
template <class Call> int until_done(const TDeadline& deadline, const char* step, Call call)
{
    return ssh_connection.until_done(call, [&] {
        const int left = deadline.left_ms();
        if (left == 0)
            deadline.expire(step);
        return std::min(left, 1000);
    });
}

// libssh2's host key algorithms with the recorded types first, as OpenSSH
// orders them, so that a host with several keys shows the recorded one.
void prefer_host_keys(const std::vector<std::string>& recorded)
{
    LIBSSH2_SESSION* session = ssh_connection.session.get();
    const char** algorithms = nullptr;
    const int count = libssh2_session_supported_algs(session, LIBSSH2_METHOD_HOSTKEY, &algorithms);
    if (count <= 0)
        return;
    const TSshMemory owned(algorithms);
    const std::vector<std::string> supported(algorithms, algorithms + count);
    std::string first, rest;
    for (const std::string& type : recorded)
        if (std::find(supported.begin(), supported.end(), type) != supported.end())
            first += type + ",";
    for (const std::string& type : supported)
        if (std::find(recorded.begin(), recorded.end(), type) == recorded.end())
            rest += type + ",";
    libssh2_session_method_pref(session, LIBSSH2_METHOD_HOSTKEY, (first + rest).c_str());
}

// Connects and completes the handshake, trying again while the server
// drops the connection before login.
void handshake(const TDeadline& deadline, const std::vector<std::string>& host_key_types)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (getaddrinfo(ssh_host.c_str(), std::to_string(ssh_port).c_str(), &hints, &found) != 0)
        throw TUError(TCode::resolve, "Failed to get network host entry");
    std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);

    std::minstd_rand random(std::random_device{}());
    for (int step_ms = 100;; step_ms = std::min(2 * step_ms, 2000)) {
        wire = TWire();
        ssh_connection.sock = connect_tcp(addresses.get(), deadline);
        ssh_connection.session.reset(libssh2_session_init_ex(nullptr, nullptr, nullptr, nullptr));
        LIBSSH2_SESSION* session = ssh_connection.session.get();
        if (!session)
            throw TUError(TCode::not_ssh, handshake_failed);
        libssh2_session_callback_set(session, LIBSSH2_CALLBACK_RECV,
                                     reinterpret_cast<void*>(wire_recv));
        libssh2_session_callback_set(session, LIBSSH2_CALLBACK_SEND,
                                     reinterpret_cast<void*>(wire_send));
        if (!host_key_types.empty())
            prefer_host_keys(host_key_types);
        int rc;
        {
            TNonBlocking nonblocking(session);
            rc = until_done(deadline, handshake_failed, [&] {
                return libssh2_session_handshake(session, ssh_connection.sock.get());
            });
        }
        if (rc == 0)
            return;
        if (!dropped_before_login(rc, wire))
            throw TUError(TCode::not_ssh, handshake_failed);
        // A random share of the step, so that runs dropped together come
        // back apart.
        const int pause_ms = step_ms / 2 + static_cast<int>(random() % (step_ms / 2 + 1));
        if (pause_ms >= deadline.left_ms())
            deadline.expire(handshake_failed);
        ssh_connection.close();
        std::this_thread::sleep_for(std::chrono::milliseconds(pause_ms));
    }
}

TPublicKey offered_host_key()
{
    size_t size = 0;
    int type = 0;
    LIBSSH2_SESSION* session = ssh_connection.session.get();
    const char* key = libssh2_session_hostkey(session, &size, &type);
    if (!key)
        throw TUError(TCode::not_ssh, handshake_failed);
    std::string blob(key, size);
    // The type is written into the known_hosts file: it must be the
    // negotiated algorithm's name, never text of the server's choosing.
    const char* negotiated = libssh2_session_methods(session, LIBSSH2_METHOD_HOSTKEY);
    if (!negotiated || blob_type(blob) != negotiated)
        throw TUError(TCode::not_ssh, handshake_failed);
    return {blob_type(blob), blob};
}

// Both the pinned fingerprint and the known_hosts file must accept the
// key, before any password or signature is sent.
void check_host_key(const TDeadline& deadline, const std::vector<THostEntry>& known,
                    const std::string& name)
{
    if (!ssh_host_key.empty()) {
        const std::string offered = host_key_fingerprint();
        if (offered != ssh_host_key)
            throw TUError(TCode::host_key,
                          "Host key mismatch: expected " + ssh_host_key + ", got " + offered);
    }
    if (ssh_known_hosts.empty())
        return;
    const TPublicKey offered = offered_host_key();
    const THostCheck check = check_known_host(known, offered);
    accept_host_check(check, offered);
    if (check.verdict == THostCheck::unknown)
        record_known_host(ssh_known_hosts, name, offered, [&] {
            check_run();
            return deadline.left_ms();
        });
}

void reach_host(const TDeadline& deadline)
{
    const std::string name = known_host_name(ssh_host, ssh_port);
    const std::vector<THostEntry> known =
        ssh_known_hosts.empty() ? std::vector<THostEntry>()
                                : host_entries(read_known_hosts(ssh_known_hosts), name);
    handshake(deadline, recorded_types(known));
    check_host_key(deadline, known, name);
}

// The key first, then the password: a refused key still lets a password
// in, as OpenSSH tries its methods in turn.
void authenticate(const TDeadline& deadline)
{
    LIBSSH2_SESSION* session = ssh_connection.session.get();
    TNonBlocking nonblocking(session);
    if (!ssh_identity.path.empty()) {
        const std::string& key = ssh_identity.text;
        const int rc = until_done(deadline, login_failed, [&] {
            return libssh2_userauth_publickey_frommemory(
                session, ssh_login.data(), ssh_login.size(), nullptr, 0, key.data(), key.size(),
                ssh_key_passphrase ? ssh_key_passphrase : "");
        });
        if (rc == 0)
            return;
        check_connection(rc);
        // Anything but a refusal means libssh2 could not use the key: each
        // format's decoder has its own code for a wrong passphrase.
        if (rc != LIBSSH2_ERROR_AUTHENTICATION_FAILED && rc != LIBSSH2_ERROR_PUBLICKEY_UNVERIFIED)
            throw TUError(TCode::local_file, "Unable to read the key " + ssh_identity.path +
                                                 ": wrong passphrase or a key libssh2 cannot use");
    }
    if (ssh_password) {
        const int rc = until_done(deadline, login_failed, [&] {
            return libssh2_userauth_password_ex(session, ssh_login.data(), ssh_login.size(),
                                                ssh_password, std::strlen(ssh_password), nullptr);
        });
        if (rc == 0)
            return;
    }

    const char* methods = nullptr;
    until_done(deadline, login_failed, [&] {
        methods = libssh2_userauth_list(session, ssh_login.data(), ssh_login.size());
        return methods ? 0 : ssh_connection.last_error().code;
    });
    if (ssh_identity.path.empty() && methods && !std::strstr(methods, "password"))
        throw TUError(TCode::auth,
                      "Unable to connect to " + ssh_address +
                          ". The server does not support password authentication method."
                          " You should ask your game hosting account provider to enable"
                          " password authentication method.");
    // libssh2 signs with RSA keys only as ssh-rsa (SHA-1), which OpenSSH
    // refuses by default since 8.8: a bare refusal would hide that.
    if (ssh_identity.type == "ssh-rsa")
        throw TUError(TCode::auth,
                      std::string(login_failed) +
                          ": the server may refuse the RSA key's SHA-1 signature (ssh-rsa);"
                          " use an ed25519 or ecdsa key");
    throw TUError(TCode::auth, login_failed);
}

}  // namespace

void init_ssh_handshake()
{
    TDeadline deadline(ssh_connect_timeout);
    reach_host(deadline);
}

void init_ssh_session()
{
    TDeadline deadline(ssh_connect_timeout);
    reach_host(deadline);
    authenticate(deadline);
}

std::string host_key_fingerprint()
{
    const char* hash =
        libssh2_hostkey_hash(ssh_connection.session.get(), LIBSSH2_HOSTKEY_HASH_SHA256);
    if (!hash)
        throw TUError(TCode::not_ssh, handshake_failed);
    return sha256_fingerprint(reinterpret_cast<const unsigned char*>(hash));
}

void check_connection(long rc)
{
    if (rc != LIBSSH2_ERROR_SOCKET_SEND && rc != LIBSSH2_ERROR_SOCKET_RECV &&
        rc != LIBSSH2_ERROR_SOCKET_DISCONNECT && rc != LIBSSH2_ERROR_SOCKET_TIMEOUT)
        return;
    std::string cause;
    if (wire.error != 0) {
        cause = std::strerror(wire.error);
    } else if (wire.closed) {
        cause = "closed by the server";
    } else {
        cause = ssh_connection.last_error().message;
    }
    throw TUError(TCode::connection_lost, "Connection lost: " + cause);
}
