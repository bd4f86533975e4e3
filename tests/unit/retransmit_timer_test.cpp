// The retransmission timer and the window's acknowledgement numbers, fed as
// tables: round trips and time-outs in, waits out.
#include "engine/retransmit_timer.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "engine/window_download.h"

namespace {

// One step of a transfer's life as the timer sees it.
struct Event {
    enum Kind { kSample, kTimeout, kAnswer } kind;
    int64_t value = 0;  // the round trip of a sample, the time of an answer
};

struct TimerCase {
    const char* what;
    TimerLimits limits;
    std::vector<Event> events;
    int64_t wait;  // the wait at time `at` after the events
    int64_t at = 0;
};

TEST(RetransmitTimerTest, WaitsFollowTheRoundTrips) {
    const TimerLimits adaptive{1000, 10, false};
    const TimerLimits negotiated{3000, 10, true};
    const TimerCase cases[] = {
        {"no round trip yet: the configured time-out", adaptive, {}, 1000},
        {"a fast client: the floor", adaptive, {{Event::kSample, 0}}, kMinimumWaitMs},
        {"one sample of 20 ms: twice its deviation on top", adaptive, {{Event::kSample, 20}}, 60},
        {"steady 20 ms: the deviation fades",
         adaptive,
         {{Event::kSample, 20}, {Event::kSample, 20}, {Event::kSample, 20}, {Event::kSample, 20}},
         37},
        {"a slow client: never above the time-out", adaptive, {{Event::kSample, 900}}, 1000},
        {"doubling after a time-out", adaptive, {{Event::kSample, 0}, {Event::kTimeout}}, 20},
        {"doubling three times",
         adaptive,
         {{Event::kSample, 0}, {Event::kTimeout}, {Event::kTimeout}, {Event::kTimeout}},
         80},
        {"doubling stops at the time-out",
         adaptive,
         {{Event::kSample, 300}, {Event::kTimeout}, {Event::kTimeout}},
         1000},
        {"an answer ends the doubling",
         adaptive,
         {{Event::kSample, 0}, {Event::kTimeout}, {Event::kTimeout}, {Event::kAnswer, 50}},
         kMinimumWaitMs,
         50},
        {"negotiated: always the time-out", negotiated, {{Event::kSample, 0}}, 3000},
        {"negotiated: no doubling", negotiated, {{Event::kTimeout}, {Event::kTimeout}}, 3000},
        {"a time-out below the floor stays the ceiling", {5, 10, false}, {{Event::kSample, 0}}, 5},
    };
    for (const TimerCase& c : cases) {
        SCOPED_TRACE(c.what);
        RetransmitTimer timer(c.limits, 0);
        for (const Event& e : c.events) {
            if (e.kind == Event::kSample) timer.add_sample(e.value);
            if (e.kind == Event::kTimeout) {
                EXPECT_TRUE(timer.back_off());
            }
            if (e.kind == Event::kAnswer) timer.answered(e.value);
        }
        EXPECT_EQ(timer.wait_ms(c.at), c.wait);
    }
}

// However short the waits, the transfer resends Retransmit + 1 times and
// gives up when the silence has lasted Retransmit + 2 full time-outs.
TEST(RetransmitTimerTest, GivesUpAfterTheSameSilenceAsFixedWaits) {
    for (bool fixed : {false, true}) {
        SCOPED_TRACE(fixed ? "fixed" : "adaptive");
        const int retransmit = 3;
        RetransmitTimer timer({1000, retransmit, fixed}, 0);
        timer.add_sample(0);
        int64_t now = 0;
        int resends = 0;
        for (;;) {
            now += timer.wait_ms(now);
            if (!timer.back_off()) break;
            ++resends;
        }
        EXPECT_EQ(resends, retransmit + 1);
        EXPECT_EQ(now, (retransmit + 2) * 1000);
    }
}

TEST(WindowAcknowledgementTest, NumbersMapToTheBlocksInFlight) {
    const struct {
        const char* what;
        uint32_t acked, sent;
        uint16_t number;
        std::optional<uint32_t> count;
    } cases[] = {
        {"the window's last block", 8, 16, 16, 16},
        {"an earlier block of the window", 8, 16, 11, 11},
        {"a repeat of the last acknowledgement", 8, 16, 8, 8},
        {"an older one", 8, 16, 7, std::nullopt},
        {"a block not sent yet", 8, 16, 17, std::nullopt},
        {"across the rollover", 65530, 65540, 3, 65539},
        {"the block numbered 0", 65530, 65540, 0, 65536},
        {"late from before the rollover", 65536, 65600, 65535, std::nullopt},
        {"the second rollover", 131070, 131080, 5, 131077},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(acknowledged_count(c.acked, c.sent, c.number), c.count);
    }
}

}  // namespace
