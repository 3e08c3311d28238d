#include "remote/bound.h"

#include "remote/error.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;

int bound_seconds = 0;
TClock::time_point bound_end;
bool bound_reported = false;

// Set by the signals' thread, read by the run and the alarm: lock-free
// atomics, safe in a signal handler too.
std::atomic<int> interrupted_by{0};
bool interruption_reported = false;

// What the alarm writes: the line of the bound or of the interruption, or
// nothing once the result is out.  Made ahead by the output's line maker.
TLineMaker make_line = nullptr;
char alarm_line[256];
char interruption_lines[3][256];
std::atomic<int> alarm_status{1};
std::atomic<bool> line_out{false};
// A long result is being printed: the alarm stays silent.  Set under the
// lock, so that the signals' thread never re-arms the alarm past it.
std::mutex printing_lock;
std::atomic<bool> printing{false};

// The alarm rings this long after the bound: a run that honours the bound
// has printed its line by then.
constexpr int alarm_grace_s = 3;
// After an interruption: time to clean up the remote side.
constexpr int cleanup_s = 5;

const int interruption_signals[3] = {SIGTERM, SIGINT, SIGHUP};

int interruption_index(int signal) { return signal == SIGTERM ? 0 : signal == SIGINT ? 1 : 2; }

std::string interruption_text(int signal)
{
    const char* names[3] = {"TERM", "INT", "HUP"};
    return std::string("Interrupted by signal ") + names[interruption_index(signal)];
}

void keep_line(char (&buffer)[256], const TUError& error)
{
    std::strncpy(buffer, make_line ? make_line(error).c_str() : "", sizeof buffer - 1);
}

// The registered clean-ups.  A slot's path is complete before it is marked
// used, so the alarm reads only whole paths.
constexpr int kCleanups = 4;
char cleanup_paths[kCleanups][4096];
std::atomic<bool> cleanup_used[kCleanups];

void run_cleanups()
{
    for (int i = 0; i < kCleanups; ++i)
        if (cleanup_used[i])
            unlink(cleanup_paths[i]);
}

extern "C" void on_alarm(int)
{
    if (!line_out && !printing) {
        const char* line =
            interrupted_by ? interruption_lines[interruption_index(interrupted_by)] : alarm_line;
        // A caller that stopped reading streamed output would hold the write,
        // and the run, for ever: the line goes out only if there is room.
        fcntl(STDOUT_FILENO, F_SETFL, fcntl(STDOUT_FILENO, F_GETFL) | O_NONBLOCK);
        ssize_t written = write(STDOUT_FILENO, line, std::strlen(line));
        (void)written;
    }
    run_cleanups();
    _exit(alarm_status);
}

// The three signals are blocked and taken by a thread of their own: one
// caught by a handler would break the wait inside a blocking libssh2 call
// (poll has no restart) and leave a packet half sent.  Waits are a second
// at most, so check_run sees the signal soon.
sigset_t interruptions()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : interruption_signals)
        sigaddset(&set, signal);
    return set;
}

void take_interruptions()
{
    const sigset_t set = interruptions();
    int signal;
    while (sigwait(&set, &signal) != 0) {}
    const std::lock_guard lock(printing_lock);
    interrupted_by = signal;
    if (!printing)
        alarm(cleanup_s + alarm_grace_s);
}

}  // namespace

void set_run_bound(int seconds)
{
    bound_seconds = seconds;
    if (seconds == 0)
        return;
    bound_end = TClock::now() + std::chrono::seconds(seconds);
    keep_line(
        alarm_line,
        TUError(TCode::timeout, "Timed out after " + std::to_string(seconds) + " s").in("run"));
    std::signal(SIGALRM, on_alarm);
    alarm(seconds + alarm_grace_s);
}

void set_line_maker(TLineMaker make)
{
    make_line = make;
    for (int signal : interruption_signals)
        keep_line(interruption_lines[interruption_index(signal)],
                  TUError(TCode::interrupted, interruption_text(signal)));
}

void catch_interruptions()
{
    std::signal(SIGALRM, on_alarm);
    const sigset_t set = interruptions();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(take_interruptions).detach();
}

int run_wait_ms(int cap_ms)
{
    if (interrupted_by && !interruption_reported)
        return 0;
    if (bound_seconds == 0)
        return cap_ms;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(bound_end - TClock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, cap_ms));
}

void check_run()
{
    if (interrupted_by && !interruption_reported) {
        interruption_reported = true;
        const std::string line = interruption_text(interrupted_by);
        // The clean-up that follows gets a few seconds, no more.
        if (bound_seconds == 0 || bound_end > TClock::now() + std::chrono::seconds(cleanup_s)) {
            bound_seconds = cleanup_s;
            bound_end = TClock::now() + std::chrono::seconds(cleanup_s);
            bound_reported = true;  // its passing is the interruption's, reported
        }
        throw TUError(TCode::interrupted, line);
    }
    if (bound_seconds != 0 && TClock::now() >= bound_end) {
        bound_reported = true;
        throw TUError(TCode::timeout, "Timed out after " + std::to_string(bound_seconds) + " s")
            .in("run");
    }
}

bool run_cut_short() { return interrupted_by || bound_reported; }

void printing_begins()
{
    const std::lock_guard lock(printing_lock);
    check_run();
    alarm(print_bound_s);
    printing = true;
}

void printing_goes_on()
{
    if (printing)
        alarm(print_bound_s);
}

void result_printed(int status)
{
    alarm_status = status;
    line_out = true;
    // What is left, closing the connection, gets what a run past its bound gets.
    if (printing)
        alarm(alarm_grace_s);
}

void add_cleanup(const std::string& path)
{
    for (int i = 0; i < kCleanups; ++i)
        if (!cleanup_used[i] && path.size() < sizeof cleanup_paths[i]) {
            std::memcpy(cleanup_paths[i], path.c_str(), path.size() + 1);
            cleanup_used[i] = true;
            return;
        }
}

void drop_cleanup(const std::string& path)
{
    for (int i = 0; i < kCleanups; ++i)
        if (cleanup_used[i] && path == cleanup_paths[i])
            cleanup_used[i] = false;
}
