#include "remote/exec.h"

#include "remote/bound.h"
#include "remote/error.h"
#include "remote/session.h"
#include "remote/window.h"
#include "remote/wire.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The most one channel write sends: one packet of the server's.
constexpr size_t kPacket = 32768;

// libssh2 keeps a packet it could only partly send and must get the very
// same call again before any other call sends anything (a read may send a
// window adjustment, which then fails with LIBSSH2_ERROR_BAD_USE).  So a
// call that would block on the socket's send side is retried at once, once
// the socket takes more.
template <class Call> ssize_t finish_sending(Call call)
{
    return ssh_connection.until_done(call, [] {
        const int directions = libssh2_session_block_directions(ssh_connection.session.get());
        return directions & LIBSSH2_SESSION_BLOCK_OUTBOUND ? 1000 : -1;
    });
}

// A failed read or write ends its stream, but an allocation libssh2 could
// not make fails the run like any other, and a broken connection is an
// error of the run too.
void check_stream(long rc)
{
    if (rc == LIBSSH2_ERROR_ALLOC)
        throw std::bad_alloc();
    check_connection(rc);
}

// One command's streams on its channel: standard input, standard output
// and standard error pumped together.  Both output streams share one
// channel window: draining one to its end before touching the other
// deadlocks once the other fills the window.
class TPumped {
public:
    TPumped(LIBSSH2_CHANNEL* channel, TInput& input, const TSink& out, const TSink& err,
            TWindowTuner* window = nullptr)
        : channel_(channel), input_(input), sink_{&out, &err}, window_(window)
    {
    }
    bool done() const { return stream_done_[0] && stream_done_[1]; }
    // Every libssh2 call first takes all waiting packets off the socket,
    // so reading one stream may have queued the other's data and the
    // channel's end: the socket then stays quiet and must not be waited on.
    bool queued() const
    {
        return !done() &&
               (libssh2_poll_channel_read(channel_, 0) || libssh2_poll_channel_read(channel_, 1) ||
                libssh2_channel_eof(channel_) || writable());
    }
    // Input to send and window for it: another channel's call may have
    // taken the window's adjustment off the socket.
    bool writable() const
    {
        return !input_done_ && !input_.pending().empty() &&
               libssh2_channel_window_write_ex(channel_, nullptr) > 0;
    }
    // Moves what can move without waiting; says whether anything did.
    bool step(char* buffer, size_t size);

private:
    void widen(size_t read);

    LIBSSH2_CHANNEL* channel_;
    TInput& input_;
    const TSink* sink_[2];
    TWindowTuner* window_;
    bool input_done_ = false, eof_sent_ = false;
    bool stream_done_[2] = {false, false};
};

bool TPumped::step(char* buffer, size_t size)
{
    bool progress = false;
    const std::string_view rest = input_.pending();
    if (!input_done_ && input_.ended())
        input_done_ = true;
    if (!input_done_ && !rest.empty()) {
        // Two packets' worth of input and window: the next write follows
        // at once and lets this packet go with it in one segment, half
        // the segments and wake-ups for the receiver (measured, a 1 GiB
        // upload on loopback took 12% less time).
        const bool more = rest.size() >= 2 * kPacket &&
                          libssh2_channel_window_write_ex(channel_, nullptr) >= 2 * kPacket;
        ssize_t n = finish_sending([&] {
            wire_more = more;
            const ssize_t written = libssh2_channel_write_ex(channel_, 0, rest.data(), rest.size());
            wire_more = false;
            return written;
        });
        if (n > 0) {
            input_.consumed(n);
            progress = true;
        } else if (n < 0 && n != LIBSSH2_ERROR_EAGAIN) {
            check_stream(n);
            input_done_ = true;  // the command stopped reading; go on with its output
        }
    }
    if (input_done_ && !eof_sent_) {
        int rc = finish_sending([&] { return libssh2_channel_send_eof(channel_); });
        if (rc != LIBSSH2_ERROR_EAGAIN) {
            check_stream(rc);
            eof_sent_ = true;
            progress = true;
        }
    }
    for (int stream = 0; stream < 2; ++stream) {
        // A write that went out first took every waiting packet off the
        // socket: only a stream with something queued needs a read then,
        // and a read of an empty one costs a system call per packet.
        if (!input_done_ && progress && !libssh2_poll_channel_read(channel_, stream) &&
            !libssh2_channel_eof(channel_))
            continue;
        while (!stream_done_[stream]) {
            ssize_t n = finish_sending(
                [&] { return libssh2_channel_read_ex(channel_, stream, buffer, size); });
            if (n > 0) {
                (*sink_[stream])(buffer, n);
                if (window_)
                    widen(n);
                progress = true;
            } else {
                // 0 is the end of the stream, anything else but EAGAIN
                // a broken channel: either way nothing more comes.  A
                // broken connection is an error of the run instead: the
                // output so far is no result.
                if (n != LIBSSH2_ERROR_EAGAIN) {
                    check_stream(n);
                    stream_done_[stream] = true;
                    progress = true;
                }
                break;
            }
        }
    }
    return progress;
}

// Keeps the window the tuner asks for open.  libssh2 tops up the window
// the channel was opened with (the default), once a quarter of it is used;
// a wider one is granted here in steps of an eighth, so that libssh2's own
// top-up never starts.
void TPumped::widen(size_t read)
{
    const unsigned long target = window_->read(TWindowTuner::TClock::now(), read);
    if (target <= LIBSSH2_CHANNEL_WINDOW_DEFAULT)
        return;
    const unsigned long open = libssh2_channel_window_read_ex(channel_, nullptr, nullptr);
    if (open + target / 8 > target)
        return;
    check_connection(finish_sending([&] {
        return libssh2_channel_receive_window_adjust2(channel_, target - open, 1, nullptr);
    }));
}

// Pumps the runs until each has ended, waiting on the socket only when none
// can move.  ended(i) is told when run i's streams have both ended.
void pump(const std::vector<TPumped*>& runs, const TWaitCap& wait_cap,
          const std::function<void(size_t)>& ended = nullptr)
{
    TNonBlocking nonblocking(ssh_connection.session.get());
    char buffer[32768];
    for (;;) {
        check_run();  // a command that never stops talking is bounded too
        bool progress = false, queued = false, all_done = true;
        for (size_t i = 0; i < runs.size(); ++i) {
            if (runs[i]->done())
                continue;
            progress |= runs[i]->step(buffer, sizeof buffer);
            if (runs[i]->done() && ended)
                ended(i);
            all_done &= runs[i]->done();
        }
        if (all_done)
            return;
        for (const TPumped* run : runs)
            queued |= run->queued();
        if (!progress && !queued)
            ssh_connection.wait(wait_cap ? std::min(wait_cap(), 1000) : 1000);
    }
}

// Closes the channel and tells the signal that ended the remote shell, as
// the server names it, or "".  The exit signal is known for sure only once
// the server has closed its side, which follows the end of both streams.
std::string close_and_ask_signal(LIBSSH2_CHANNEL* channel)
{
    TNonBlocking nonblocking(ssh_connection.session.get());
    check_connection(ssh_connection.until_done([&] { return libssh2_channel_close(channel); }));
    char* signal = nullptr;
    size_t size = 0;
    libssh2_channel_get_exit_signal(channel, &signal, &size, nullptr, nullptr, nullptr, nullptr);
    const TSshMemory owned(signal);
    // A server may name no signal at all; it still ended the shell.
    return signal ? (size ? std::string(signal, size) : "UNKNOWN") : "";
}

bool ends_with_status_line(const std::string& out, bool pty)
{
    size_t end = out.size();
    if (end == 0 || out[end - 1] != '\n')
        return false;
    --end;
    if (pty && end > 0 && out[end - 1] == '\r')
        --end;  // the terminal writes every newline as "\r\n"
    size_t begin = end;
    while (begin > 0 && is_digit(out[begin - 1]))
        --begin;
    return begin < end && begin > 0 && out[begin - 1] == '\n';
}

// The subshell keeps the command's own exits and syntax away from the
// status echo, which always runs.  The line break ends the command's last
// line first: a trailing comment or here-document would swallow the
// closing parenthesis.
std::string wrap(const std::string& command) { return "( " + command + "\n); echo \"\n$?\""; }

}  // namespace

TChannel try_open_channel()
{
    TChannel channel(libssh2_channel_open_ex(ssh_connection.session.get(), "session", 7,
                                             LIBSSH2_CHANNEL_WINDOW_DEFAULT,
                                             LIBSSH2_CHANNEL_PACKET_DEFAULT, nullptr, 0));
    if (!channel)
        check_connection(ssh_connection.last_error().code);
    return channel;
}

TChannel open_channel()
{
    TChannel channel = try_open_channel();
    if (!channel)
        throw TUError(TCode::remote, "Unable to open a session", "session");
    return channel;
}

TChannel open_forward(int port)
{
    LIBSSH2_SESSION* session = ssh_connection.session.get();
    LIBSSH2_CHANNEL* made = nullptr;
    {
        TNonBlocking nonblocking(session);
        ssh_connection.until_done([&] {
            made = libssh2_channel_direct_tcpip_ex(session, "127.0.0.1", port, "127.0.0.1", 0);
            return made ? 0 : libssh2_session_last_errno(session);
        });
    }
    TChannel channel(made);
    if (!channel) {
        const TLastError error = ssh_connection.last_error();
        check_connection(error.code);
        // libssh2 names the server's reason in parentheses: "Channel open
        // failure (administratively prohibited)".
        std::string reason = error.message;
        const size_t open = reason.find('('), close = reason.rfind(')');
        if (open != std::string::npos && close != std::string::npos && open < close)
            reason = reason.substr(open + 1, close - open - 1);
        throw TUError(TCode::remote,
                      "The host refuses forwarding to port " + std::to_string(port) + ": " + reason,
                      "forward");
    }
    return channel;
}

std::string ssh_exec_streams(TChannel channel, const std::string& command, TInput& input,
                             bool want_pty, const TSink& out, const TSink& err,
                             const TWaitCap& wait_cap, TWindowTuner* window)
{
    if (want_pty) {
        int rc =
            libssh2_channel_request_pty_ex(channel.get(), "linux", 5, nullptr, 0, 80, 24, 0, 0);
        check_connection(rc);
        if (rc != 0)
            throw TUError(TCode::remote, "Failed requesting pty", "session");
    }

    const std::string wrapped = wrap(command);
    const auto asked = TWindowTuner::TClock::now();
    int rc = libssh2_channel_process_startup(channel.get(), "exec", 4, wrapped.c_str(),
                                             std::strlen(wrapped.c_str()));
    // sshd answers once it has forked the command: a round trip's measure.
    // The channel's opening is none; right after the login, it waits for
    // sshd's own start of the session (70 ms on loopback).
    if (window)
        window->round_trip(TWindowTuner::TClock::now() - asked);
    check_connection(rc);
    if (rc != 0)
        throw TUError(TCode::remote, "Unable to request exec: " + wrapped, "session");

    libssh2_channel_handle_extended_data2(channel.get(), LIBSSH2_CHANNEL_EXTENDED_DATA_NORMAL);

    TPumped run(channel.get(), input, out, err, window);
    pump({&run}, wait_cap);
    return close_and_ask_signal(channel.get());
}

void ssh_exec_together(std::vector<TTogether>& runs, const std::function<void(size_t)>& ended)
{
    std::vector<TPumped> pumped;
    std::vector<TPumped*> all;
    pumped.reserve(runs.size());
    {
        // One request at a time: libssh2 1.10 takes another channel's
        // answer to a request for a failure of the one it waits on.
        TNonBlocking nonblocking(ssh_connection.session.get());
        for (TTogether& run : runs) {
            const std::string wrapped = wrap(run.command);
            const int rc = ssh_connection.until_done([&] {
                return finish_sending([&] {
                    return libssh2_channel_process_startup(run.channel.get(), "exec", 4,
                                                           wrapped.data(), wrapped.size());
                });
            });
            check_connection(rc);
            if (rc != 0)
                throw TUError(TCode::remote, "Unable to request exec: " + wrapped, "session");
        }
    }
    for (TTogether& run : runs) {
        libssh2_channel_handle_extended_data2(run.channel.get(),
                                              LIBSSH2_CHANNEL_EXTENDED_DATA_NORMAL);
        pumped.emplace_back(run.channel.get(), *run.input, run.out, run.err);
        all.push_back(&pumped.back());
    }
    pump(all, nullptr, ended);
    for (TTogether& run : runs)
        run.killed = !close_and_ask_signal(run.channel.get()).empty();
}

TExecResult ssh_exec(std::string command, std::string input, bool want_pty, size_t out_cap)
{
    TKeptText out(out_cap, 4096), err(kErrCap, 0);
    TInput in(std::move(input));
    const bool killed =
        !ssh_exec_streams(
             open_channel(), command, in, want_pty, [&](const char* p, size_t n) { out.add(p, n); },
             [&](const char* p, size_t n) { err.add(p, n); })
             .empty();
    TExecResult result{-1, std::move(out.text()), std::move(err.text())};
    result.status = wrapper_status(result.out, killed, want_pty);
    return result;
}

TInput::TInput(std::string text, TSource source, size_t chunk)
    : text_(std::move(text)), source_(std::move(source)), chunk_(chunk)
{
    if (text_.empty())
        read_chunk();
}

TInput::TInput(std::string text, std::string path) : text_(std::move(text)), fd_(open_to_read(path))
{
    if (!fd_)
        throw TUError(TCode::local_file, "Unable to read " + path + ": " + std::strerror(errno));
    source_ = [this, path](char* buffer, size_t room) {
        try {
            return read_some(fd_.get(), buffer, room);
        } catch (const TSysError& e) {
            e.reword(TCode::local_file, "Unable to read " + path);
        }
    };
    read_chunk();
}

void TInput::consumed(size_t n)
{
    sent_ += n;
    // Topped up while less than a packet is left, so that every channel
    // write is a whole packet: a short one costs as much as a whole.
    if (text_.size() - sent_ < kPacket && source_) {
        text_.erase(0, sent_);
        sent_ = 0;
        read_chunk();
    }
}

void TInput::follow(TSource source)
{
    source_ = std::move(source);
    if (pending().size() < kPacket) {
        text_.erase(0, sent_);
        sent_ = 0;
        read_chunk();
    }
}

void TInput::stop()
{
    text_.clear();
    sent_ = 0;
    source_ = nullptr;
    open_ = false;
}

void TInput::add(std::string_view text)
{
    text_.erase(0, sent_);
    sent_ = 0;
    text_.append(text);
}

// Appends the source's next chunk; at its end the source goes.
void TInput::read_chunk()
{
    if (!source_)
        return;
    const size_t old = text_.size();
    text_.resize(old + chunk_);
    size_t n = 0;
    try {
        n = source_(text_.data() + old, chunk_);
    } catch (...) {
        source_ = nullptr;
        throw;
    }
    text_.resize(old + n);
    if (n == 0)
        source_ = nullptr;
}

void TKeptText::add(const char* data, size_t size)
{
    if (tail_ == 0) {
        text_.append(data, std::min(size, head_ - std::min(head_, text_.size())));
        return;
    }
    text_.append(data, size);
    // The middle goes once a whole tail's worth has piled up past the
    // head, so each byte is moved a bounded number of times.
    if (text_.size() > head_ + 2 * tail_)
        text();
}

std::string& TKeptText::text()
{
    if (text_.size() > head_ + tail_)
        text_.erase(head_, text_.size() - head_ - tail_);
    return text_;
}

void TStatusTail::add(const char* data, size_t size)
{
    held_.append(data, size);
    if (held_.size() > kHeld) {
        sink_(held_.data(), held_.size() - kHeld);
        held_.erase(0, held_.size() - kHeld);
    }
}

int TStatusTail::finish(bool killed, bool pty)
{
    const int status = wrapper_status(held_, killed, pty);
    sink_(held_.data(), held_.size());
    held_.clear();
    return status;
}

int wrapper_status(std::string& out, bool killed, bool pty)
{
    if (killed || !ends_with_status_line(out, pty))
        return -1;
    return extr_ret_code(out);
}

int extr_ret_code(std::string& text)
{
    size_t i = text.size();
    while (i > 0 && !is_digit(text[i - 1]))
        --i;
    if (i == 0) {
        text.clear();
        return -1;
    }
    size_t digits_end = i;
    while (i > 0 && is_digit(text[i - 1]))
        --i;
    size_t digits_begin = i;
    bool negative = i > 0 && text[i - 1] == '-';
    size_t p = negative ? i - 1 : i;

    long long value = 0;
    bool fits = true;
    for (size_t k = digits_begin; k < digits_end && fits; ++k) {
        value = value * 10 + (text[k] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            fits = false;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        fits = false;

    text.resize(p > 0 ? p - 1 : 0);
    return fits ? static_cast<int>(value) : -1;
}
