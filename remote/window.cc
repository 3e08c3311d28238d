#include "remote/window.h"

#include <algorithm>

void TWindowTuner::round_trip(TClock::duration took)
{
    round_trip_ = std::max(took, TClock::duration(1));
    if (took >= kLongRoundTrip)
        target_ = std::max(target_, cap_ / 2);
}

unsigned TWindowTuner::read(TClock::time_point now, size_t n)
{
    // What the first read brings came before the clock started.
    if (since_ == TClock::time_point{}) {
        since_ = now;
        return target_;
    }
    counted_ += n;
    const auto span = now - since_;
    if (span < round_trip_)
        return target_;
    const double per_round_trip = static_cast<double>(counted_ + last_counted_) *
                                  round_trip_.count() / (span + last_span_).count();
    if (per_round_trip >= 0.75 * target_)
        target_ =
            static_cast<unsigned>(std::min(2ULL * target_, static_cast<unsigned long long>(cap_)));
    last_span_ = span;
    last_counted_ = counted_;
    since_ = now;
    counted_ = 0;
    return target_;
}
