#include "remote/window.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace std::chrono_literals;
constexpr unsigned MiB = 1 << 20;

struct TRead {
    std::chrono::milliseconds at;
    size_t bytes;
};

// Reads of per bytes a round trip, 8 to each, for trips round trips from
// start on.
std::vector<TRead> steady(std::chrono::milliseconds rtt, int trips, size_t per,
                          std::chrono::milliseconds start = 0ms)
{
    std::vector<TRead> reads;
    for (int i = 0; i <= trips * 8; ++i)
        reads.push_back({start + rtt * i / 8, per / 8});
    return reads;
}

std::vector<TRead> operator+(std::vector<TRead> a, const std::vector<TRead>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(WindowTuner, GrowsOnlyWhileTheLinkCarriesNearlyAllOfIt)
{
    struct TCase {
        const char* behaviour;
        std::chrono::milliseconds rtt;
        std::vector<TRead> reads;
        unsigned target;
    };
    const TCase cases[] = {
        {"a short link keeps the opening window", 1ms, {{0ms, 0}}, 2 * MiB},
        {"a long link starts at half the cap", 100ms, {{0ms, 0}}, 8 * MiB},
        {"a fast short link below its window keeps it", 8ms, steady(8ms, 50, 1 * MiB), 2 * MiB},
        {"a short link that fills its window doubles it, once", 8ms, steady(8ms, 50, 2 * MiB),
         4 * MiB},
        {"a long link that carries 4 MiB a round trip stays at 8", 100ms,
         steady(100ms, 20, 4 * MiB), 8 * MiB},
        {"a long link held back by the window doubles it up to the cap", 100ms,
         steady(100ms, 5, 8 * MiB), 16 * MiB},
        {"a burst after a stall counts at its rate over both spans", 100ms,
         steady(100ms, 2, 3 * MiB) + std::vector<TRead>{{500ms, 0}, {505ms, 7 * MiB}} +
             steady(100ms, 1, 3 * MiB, 510ms),
         8 * MiB},
        {"a slower spell never narrows it", 100ms,
         steady(100ms, 3, 8 * MiB) + steady(100ms, 10, 64 << 10, 310ms), 16 * MiB},
    };
    for (const TCase& c : cases) {
        TWindowTuner tuner(2 * MiB, 16 * MiB);
        tuner.round_trip(c.rtt);
        const auto start = TWindowTuner::TClock::time_point{} + 1h;
        unsigned target = 0;
        for (const TRead& read : c.reads)
            target = tuner.read(start + read.at, read.bytes);
        EXPECT_EQ(target, c.target) << c.behaviour;
    }
}

}  // namespace
