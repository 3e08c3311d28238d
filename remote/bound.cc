#include "remote/bound.h"

#include "remote/error.h"

#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
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
// nothing once the result is out.
char alarm_line[64];
std::atomic<int> alarm_status{1};
std::atomic<bool> line_out{false};

// The alarm rings this long after the bound: a run that honours the bound
// has printed its line by then.
constexpr int alarm_grace_s = 3;
// After an interruption: time to clean up the remote side.
constexpr int cleanup_s = 5;

void set_alarm_line(const std::string& line)
{
    std::strncpy(alarm_line, line.c_str(), sizeof alarm_line - 1);
}

const char* interruption_line(int signal)
{
    switch (signal) {
    case SIGTERM: return "Interrupted by signal TERM\n";
    case SIGINT: return "Interrupted by signal INT\n";
    default: return "Interrupted by signal HUP\n";
    }
}

extern "C" void on_alarm(int)
{
    if (!line_out) {
        const char* line = interrupted_by ? interruption_line(interrupted_by) : alarm_line;
        ssize_t written = write(STDOUT_FILENO, line, std::strlen(line));
        (void)written;
    }
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
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

void take_interruptions()
{
    const sigset_t set = interruptions();
    int signal;
    while (sigwait(&set, &signal) != 0) {
    }
    interrupted_by = signal;
    alarm(cleanup_s + alarm_grace_s);
}

}  // namespace

void set_run_bound(int seconds)
{
    bound_seconds = seconds;
    if (seconds == 0)
        return;
    bound_end = TClock::now() + std::chrono::seconds(seconds);
    set_alarm_line("Timed out after " + std::to_string(seconds) + " s\n");
    std::signal(SIGALRM, on_alarm);
    alarm(seconds + alarm_grace_s);
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
        std::string line = interruption_line(interrupted_by);
        line.pop_back();
        // The clean-up that follows gets a few seconds, no more.
        if (bound_seconds == 0 || bound_end > TClock::now() + std::chrono::seconds(cleanup_s)) {
            bound_seconds = cleanup_s;
            bound_end = TClock::now() + std::chrono::seconds(cleanup_s);
            bound_reported = true;  // its passing is the interruption's, reported
        }
        throw TUError(line);
    }
    if (bound_seconds != 0 && TClock::now() >= bound_end) {
        bound_reported = true;
        throw TUError("Timed out after " + std::to_string(bound_seconds) + " s");
    }
}

bool run_cut_short()
{
    return interrupted_by || bound_reported;
}

void result_printed(int status)
{
    alarm_status = status;
    line_out = true;
}
