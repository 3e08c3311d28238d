#include "remote/download.h"

#include "remote/connection.h"
#include "remote/error.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <string_view>

namespace {

using TClock = std::chrono::steady_clock;

// From the exec to the file's record.  The remote checks come first and a
// regular file is announced at once, however large; what takes longer is a
// name that became a pipe after the checks, holding its open, or an scp
// that speaks no SCP.
constexpr int announce_s = 30;

// The most of a record or message line that is kept: the source's own are
// short, and one that never ends must not grow.
constexpr size_t kLineCap = 4096;

[[noreturn]] void copy_failed(const std::string& message)
{
    throw TUError(TCode::remote, "Failed to copy content: " + message, "scp");
}

// The size in a file record "C<mode> <size> <name>" without its C, or -1:
// a sign, anything but digits, more than 63 bits.
long long record_size(const std::string& record)
{
    size_t i = record.find_first_not_of("01234567");
    if (i == 0 || i == std::string::npos || record[i] != ' ')
        return -1;
    const size_t end = record.find(' ', ++i);
    if (end == i || end == std::string::npos)
        return -1;
    long long size = 0;
    for (; i < end; ++i) {
        const int digit = record[i] - '0';
        if (digit < 0 || digit > 9 || size > (LLONG_MAX - digit) / 10)
            return -1;
        size = size * 10 + digit;
    }
    return size;
}

// The receiving side of the protocol, fed the command's standard output as
// it arrives.  The source sends a file record (C) or a refusal (1 or 2 and
// a line) and waits for a zero byte; then the file's bytes and a status, 0
// or again 1 or 2 and a line, which the last zero byte answers.  Its first
// byte tells it from a failed step's name, a lower-case word: the command's
// own output.
class TReceiver {
public:
    TReceiver(TInput& input, const TSizeSink& begin, const TChunkSink& sink)
        : input_(input), begin_(begin), sink_(sink),
          announce_end_(TClock::now() + std::chrono::seconds(announce_s))
    {
    }

    void take(const char* data, size_t size)
    {
        if (part_ <= refusal)
            wait_ms();  // a command that talks on and on is bounded too
        while (size > 0) {
            size_t n = 1;
            switch (part_) {
            case first:
                part_ = *data == 'C' ? record : *data == 1 || *data == 2 ? refusal : own;
                n = part_ == own ? 0 : 1;
                break;
            case own:
            case rest:
                out_.add(data, size);
                return;
            case record:
            case refusal:
            case failure: {
                const char* end = static_cast<const char*>(std::memchr(data, '\n', size));
                n = end ? end - data + 1 : size;
                line_.append(data, std::min(n - (end ? 1 : 0), kLineCap - line_.size()));
                if (end)
                    end_line();
                else if (part_ == record && line_.size() == kLineCap)
                    copy_failed("bad file size from the remote scp");
                break;
            }
            case file:
                n = std::min<long long>(left_, size);
                sink_(data, n);
                if ((left_ -= n) == 0)
                    part_ = status;
                break;
            case status:
                if (*data == '\0') {
                    input_.add(std::string_view("", 1));
                    input_.let_end();
                    part_ = rest;
                } else {
                    // Any other byte begins the message itself.
                    part_ = failure;
                    n = *data == 1 || *data == 2 ? 1 : 0;
                }
                break;
            }
            data += n;
            size -= n;
        }
    }

    // At the end of the output: throws unless the file came whole or the
    // command's own output came instead.
    void finish()
    {
        if (part_ == refusal || part_ == failure)
            end_line();
        if (part_ == record || part_ == file || part_ == status)
            copy_failed("the file ended early");
    }

    // Until the record, waits end at its deadline; then at the run's bound.
    int wait_ms()
    {
        if (part_ > refusal)
            return INT_MAX;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(announce_end_ - TClock::now()).count();
        if (left <= 0)
            throw TUError(TCode::timeout, "Timed out after " + std::to_string(announce_s) + " s")
                .in("run");
        return static_cast<int>(std::min<long long>(left, INT_MAX));
    }

    bool whole() const { return part_ == rest; }
    std::string& out() { return out_.text(); }

private:
    void end_line()
    {
        if (part_ == refusal)
            throw TUError(TCode::remote, "Unable to open the scp channel: " + line_, "scp");
        if (part_ == failure)
            copy_failed(line_);
        const long long size = record_size(line_);
        if (size < 0)
            copy_failed("bad file size from the remote scp");
        line_.clear();
        begin_(size);
        input_.add(std::string_view("", 1));
        left_ = size;
        part_ = size > 0 ? file : status;
    }

    // In order: those before the record first.
    enum { first, own, record, refusal, file, status, failure, rest } part_ = first;
    TInput& input_;
    const TSizeSink& begin_;
    const TChunkSink& sink_;
    const TClock::time_point announce_end_;
    std::string line_;
    long long left_ = 0;
    TKeptText out_{4096, 4096};
};

// Runs call; should it throw, the channel's end does not wait for the
// remote command: a source given up on has nothing to clean up, one that
// ignores its input may never end, and the watchdog ends it with the
// connection.
template <class Call> auto giving_up_at_once(Call call)
{
    try {
        return call();
    } catch (...) {
        ssh_connection.drop();
        throw;
    }
}

}  // namespace

TDownload scp_download(TChannel channel, const std::string& command, const std::string& before,
                       const TSizeSink& begin, const TChunkSink& sink, TWindowTuner* window)
{
    // The source waits for a zero byte before it starts; it goes with the
    // command, at no cost of a round trip.
    TInput input(before + std::string(1, '\0'));
    input.hold_open();
    TReceiver receiver(input, begin, sink);
    TKeptText err(kErrCap, 0);
    const bool killed =
        !ssh_exec_streams(
             std::move(channel), command, input, false,
             [&](const char* p, size_t n) { giving_up_at_once([&] { receiver.take(p, n); }); },
             [&](const char* p, size_t n) { err.add(p, n); },
             [&] { return giving_up_at_once([&] { return receiver.wait_ms(); }); }, window)
             .empty();
    receiver.finish();
    TDownload download{{-1, std::move(receiver.out()), std::move(err.text())}, receiver.whole()};
    download.run.status = wrapper_status(download.run.out, killed, false);
    return download;
}
