// The bound on a whole run and its interruption by a signal.  Every wait
// on the connection ends by the bound and asks check_run, which throws the
// run's one error line once the bound has passed ("Timed out after N s") or
// SIGTERM, SIGINT or SIGHUP came ("Interrupted by signal NAME").  A run
// stuck where no wait sees it (a name look-up, a blocking libssh2 call, a
// teardown on a dead peer) is ended by an alarm a little later, with the
// same line, printed once.
#pragma once

#include "remote/error.h"

#include <string>

// The output's maker of the run's error line (text or JSON); the alarm's
// lines are made with it ahead of time, as a signal handler may not build
// them.  Until it is set the alarm prints nothing.
using TLineMaker = std::string (*)(const TUError&);
void set_line_maker(TLineMaker make);

// Seconds from now; 0 leaves the run unbounded.
void set_run_bound(int seconds);

// Catches the three signals from now on (before any other thread starts).
void catch_interruptions();

// Milliseconds the run may still wait, at most cap_ms.
int run_wait_ms(int cap_ms);

// Throws the TUError of a passed bound or of an interruption.  After an
// interruption the run has a few seconds to clean up (an upload directory,
// a lock), then the alarm ends it.
void check_run();

// Whether the run was cut short by its bound or a signal.
bool run_cut_short();

// A result too long to print at once begins (exec's JSON object, or its
// error text and status): from now on neither the bound nor a signal
// prints inside it, and a signal lets it finish.  A caller that takes no
// part of it for print_bound_s ends the run, with status 1 and nothing
// more printed.  Throws first, as check_run does, a bound passed or a
// signal taken before.
constexpr int print_bound_s = 30;
void printing_begins();
// The caller took another part of the result.
void printing_goes_on();

// The run's result line is out: the alarm, should it still ring, only ends
// the process with this status.
void result_printed(int status);

// Files the alarm removes before it ends a stuck run (a download's
// temporary file), which no destructor would: a few at a time, each path
// shorter than 4096 bytes, or it is not kept.
void add_cleanup(const std::string& path);
void drop_cleanup(const std::string& path);
