#include "remote/download.h"

#include "remote/bound.h"
#include "remote/connection.h"
#include "remote/error.h"
#include "remote/guards.h"
#include "remote/session.h"

#include <algorithm>
#include <chrono>
#include <vector>

namespace {

// As the upload's: fewer calls between libssh2's 32 KB packets.
constexpr size_t chunk_size = 256 * 1024;

// Until the remote scp announces the file.  A file the caller checked but
// that became a pipe meanwhile would hold its sender in open() for ever;
// a regular file is announced at once, however large.
constexpr int announce_s = 30;

std::string last_error()
{
    char* message = nullptr;
    libssh2_session_last_error(ssh_session, &message, nullptr, 0);
    return message ? message : "";
}

[[noreturn]] void copy_failed(long rc, const std::string& message)
{
    check_connection(rc);
    throw TUError(TCode::remote, "Failed to copy content: " + message, "scp");
}

// One byte of the channel, waiting for it on the socket.
ssize_t read_byte(char& c)
{
    for (;;) {
        ssize_t n = libssh2_channel_read_ex(ssh_channel, 0, &c, 1);
        if (n != LIBSSH2_ERROR_EAGAIN)
            return n;
        wait_socket(ssh_session, ssh_sock);
    }
}

// The sender ends the file with one status byte: 0, or 1 or 2 and a
// message line (a read error midway, a file that shrank).
void read_status()
{
    char code = 0;
    ssize_t n = read_byte(code);
    if (n == 1 && code == 0)
        return;
    if (n < 0)
        copy_failed(n, last_error());
    std::string message;
    if (n == 1 && code != 1 && code != 2)
        message += code;
    char c;
    while (message.size() < 65536 && read_byte(c) == 1 && c != '\n')
        message += c;
    copy_failed(0, message);
}

// Calls libssh2 until it stops asking to wait.
template <class Call>
long until_done(Call call)
{
    for (;;) {
        long rc = call();
        if (rc != LIBSSH2_ERROR_EAGAIN)
            return rc;
        wait_socket(ssh_session, ssh_sock);
    }
}

}  // namespace

void scp_download(const std::string& from, const TChunkSink& sink)
{
    free_channel();
    // Non-blocking: every wait is one of wait_socket's, which ends with
    // the run's bound or a signal however the transfer stalls.
    TNonBlocking nonblocking(ssh_session);
    libssh2_struct_stat st{};
    const auto announce_end = std::chrono::steady_clock::now() + std::chrono::seconds(announce_s);
    while (!(ssh_channel = libssh2_scp_recv2(ssh_session, from.c_str(), &st))) {
        const int rc = libssh2_session_last_errno(ssh_session);
        if (rc != LIBSSH2_ERROR_EAGAIN) {
            check_connection(rc);
            throw TUError(TCode::remote, "Unable to open the scp channel: " + last_error(), "scp");
        }
        if (std::chrono::steady_clock::now() >= announce_end)
            throw TUError(TCode::timeout, "Timed out after " + std::to_string(announce_s) + " s");
        wait_socket(ssh_session, ssh_sock);
    }
    TChannelGuard guard;

    std::vector<char> buffer(chunk_size);
    libssh2_int64_t left = st.st_size;
    while (left > 0) {
        check_run();
        ssize_t n = libssh2_channel_read_ex(ssh_channel, 0, buffer.data(),
                                            std::min<libssh2_int64_t>(left, buffer.size()));
        if (n == LIBSSH2_ERROR_EAGAIN) {
            wait_socket(ssh_session, ssh_sock);
            continue;
        }
        if (n < 0)
            copy_failed(n, last_error());
        if (n == 0 && libssh2_channel_eof(ssh_channel))
            copy_failed(0, "the file ended early");
        sink(buffer.data(), n);
        left -= n;
    }
    read_status();

    // Acknowledges the file: the sender then ends without a complaint.
    long rc = until_done([] { return libssh2_channel_write_ex(ssh_channel, 0, "", 1); });
    if (rc >= 0)
        rc = until_done([] { return libssh2_channel_send_eof(ssh_channel); });
    if (rc >= 0)
        rc = until_done([] { return libssh2_channel_close(ssh_channel); });
    check_connection(rc < 0 ? rc : 0);
}
