// Runs one command line on the remote account.  The status is printed by
// the remote shell itself after the command, as the last line of standard
// output, and is believed only when that shell ended normally.  Memory
// stays bounded whatever the remote side sends: the streams are either
// handed on as they arrive or kept only up to a cap.
#pragma once

#include "remote/connection.h"
#include "remote/window.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// What the run keeps of a script's streams: its standard output (results
// such as --log's 1 MiB) and the error text that may reach an error line.
constexpr size_t kOutCap = 4 << 20;
constexpr size_t kErrCap = 64 << 10;

struct TExecResult {
    int status;       // -1 when no status could be read
    std::string out;  // standard output without the status line, capped
    std::string err;  // standard error, its first kErrCap bytes
};

// Receives a stream's bytes as they arrive.
using TSink = std::function<void(const char* data, size_t size)>;

// A command's standard input: text, then what a source gives (a file's
// bytes), read a chunk at a time as the channel takes them, so that input
// of any size costs no memory.
class TInput {
public:
    // Puts up to room bytes into buffer and says how many; 0 at the end.
    // May throw TUError to fail the run.
    using TSource = std::function<size_t(char* buffer, size_t room)>;

    // What one read of the source takes: fewer, larger reads move more
    // (on loopback, 256 KiB moved about 7% more than 32 KiB).
    static constexpr size_t kChunk = 256 * 1024;

    // chunk: the most one read takes, so that inputs read side by side
    // may share one chunk's memory.
    explicit TInput(std::string text = "", TSource source = nullptr, size_t chunk = kChunk);
    // Opens path and reads its first chunk, so that a file that cannot be
    // read fails at once, before the run connects.  A failed read throws
    // "Unable to read PATH: REASON".
    TInput(std::string text, std::string path);
    TInput(const TInput&) = delete;
    TInput& operator=(const TInput&) = delete;

    // The bytes to send next; empty once everything is sent.
    std::string_view pending() const { return std::string_view(text_).substr(sent_); }
    // The first n bytes of pending() went out.
    void consumed(size_t n);
    // Then the source's bytes, after what is pending.
    void follow(TSource source);
    // Nothing more goes out: the command refused what it got so far.
    void stop();
    // For a command that answers what it reads (an scp source): held
    // open, the input does not end when nothing is pending; add() gives
    // it more, let_end() lets it end once that is sent.
    void hold_open() { open_ = true; }
    void add(std::string_view text);
    void let_end() { open_ = false; }
    bool ended() const { return !open_ && pending().empty(); }

private:
    void read_chunk();

    std::string text_;
    size_t sent_ = 0;
    TSource source_;
    TFd fd_;
    size_t chunk_ = kChunk;
    bool open_ = false;
};

// A session channel on the open connection, for one command, with
// libssh2's default receive window, which it tops up as the data is read.
// Throws TUError "Unable to open a session" (step session), or the
// connection's loss.
TChannel open_channel();
// The same, but a server that grants no more channels (MaxSessions) gives
// an empty one.
TChannel try_open_channel();

// A direct-tcpip channel from the host to its own 127.0.0.1:port.  Throws
// TUError "The host refuses forwarding to port N: REASON" (step forward),
// or the connection's loss.
TChannel open_forward(int port);

// Requires an open session.  Throws TUError when the channel cannot be set
// up or the connection fails; a failing remote command is reported through
// status.  out keeps the first out_cap bytes of standard output (and its
// last 4 KiB, where the status and a failed script's step are).
TExecResult ssh_exec(std::string command, std::string input, bool want_pty,
                     size_t out_cap = kOutCap);

// Asked before each wait on the remote side: the longest the wait may
// last, in milliseconds.  Throws to end the run at a deadline of its own.
using TWaitCap = std::function<int()>;

// The same on channel, which goes with the call, handing standard output
// (status line and all) and standard error to the sinks as they arrive;
// returns the name of the signal that ended the remote shell, as the server
// reported it ("KILL"), or "".  With a window tuner, the receive window
// grows as it asks.
std::string ssh_exec_streams(TChannel channel, const std::string& command, TInput& input,
                             bool want_pty, const TSink& out, const TSink& err,
                             const TWaitCap& wait_cap = nullptr, TWindowTuner* window = nullptr);

// One of several commands run at once, each on its channel.
struct TTogether {
    TChannel channel;
    std::string command{};
    TInput* input = nullptr;
    TSink out{}, err{};
    bool killed = false;  // set at the end: a signal ended the remote shell
};

// Starts every command and pumps them all together until each has ended
// (ended(i) is told of run i as its streams end, and may change any run's
// input), then closes their channels.
void ssh_exec_together(std::vector<TTogether>& runs, const std::function<void(size_t)>& ended);

// Keeps the first head bytes of a stream and its last tail bytes.
class TKeptText {
public:
    TKeptText(size_t head, size_t tail) : head_(head), tail_(tail) {}
    void add(const char* data, size_t size);
    std::string& text();

private:
    size_t head_, tail_;
    std::string text_;
};

// Passes standard output on to sink but for its last bytes, which may
// still be the status line "\n<status>\n".  finish() judges them as
// wrapper_status does, passes on what is left and returns the status.
class TStatusTail {
public:
    static constexpr size_t kHeld = 64;  // far above "\n-2147483648\r\n"
    explicit TStatusTail(TSink sink) : sink_(std::move(sink)) {}
    void add(const char* data, size_t size);
    int finish(bool killed, bool pty);

private:
    TSink sink_;
    std::string held_;
};

// The status of a finished command from its output: out ends with the
// status line unless a signal killed the shell that prints it (killed) or
// something else kept it from printing.  Then -1, and out stays whole;
// otherwise extr_ret_code's cut.  pty: the output came through a terminal.
int wrapper_status(std::string& out, bool killed, bool pty);

// Cuts the trailing "\n<status>\n" off text and returns the status.
int extr_ret_code(std::string& text);
