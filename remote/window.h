// How wide a download's receive window should be.  One channel moves at
// most one window per round trip, so a long link wants a wide one; but
// what the link cannot carry waits in sshd, which slows down sharply once
// it holds many MiB.  So a link of a long round trip starts at half the
// cap, and the window doubles only while the link carries nearly all of
// it each round trip; a short link keeps the window the channel was opened
// with unless it fills it too.  It never narrows.
#pragma once

#include <chrono>
#include <cstddef>

class TWindowTuner {
public:
    using TClock = std::chrono::steady_clock;

    // From this round trip on, a link is a long one.
    static constexpr TClock::duration kLongRoundTrip = std::chrono::milliseconds(10);

    TWindowTuner(unsigned floor, unsigned cap) : cap_(cap < floor ? floor : cap), target_(floor) {}

    // The link's round trip, as the answer to a request took: set before
    // the first read.
    void round_trip(TClock::duration took);

    // n bytes were read at now; returns the window to keep open.
    unsigned read(TClock::time_point now, size_t n);

private:
    TClock::duration round_trip_{1};
    unsigned cap_, target_;
    TClock::time_point since_{};
    unsigned long long counted_ = 0;
    // The span before the current one, so that a burst after a stall (the
    // disk held the reader back) counts at its rate over both.
    TClock::duration last_span_{};
    unsigned long long last_counted_ = 0;
};
