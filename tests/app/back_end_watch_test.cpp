// Telling from timed sightings of the back-end's window when it has been
// gone too long.
#include "app/back_end_watch.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/common/test_support.h"

namespace qm::test {
namespace {

using Change = BackEndWatch::Change;

struct Sighting {
    int64_t atMs;
    bool present;
    Change expected;
};

TEST(BackEndWatch, SightingsBecomeChanges) {
    const struct {
        const char* name;
        std::vector<Sighting> sightings;
    } cases[] = {
        {"always there", {{0, true, Change::kNone}, {2000, true, Change::kNone}}},
        {"gone for the bound, told once",
         {{0, true, Change::kNone},
          {2000, false, Change::kGone},
          {31999, false, Change::kNone},
          {32000, false, Change::kTooLong},
          {34000, false, Change::kNone}}},
        {"back within the bound starts the clock again",
         {{0, false, Change::kGone},
          {20000, true, Change::kBack},
          {22000, false, Change::kGone},
          {50000, false, Change::kNone},
          {52000, false, Change::kTooLong}}},
        {"a return after the bound was told says nothing new",
         {{0, false, Change::kGone},
          {30000, false, Change::kTooLong},
          {32000, true, Change::kNone}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        BackEndWatch watch(30000);
        for (const Sighting& s : c.sightings)
            EXPECT_EQ(watch.Observe(s.present, s.atMs), s.expected) << "at " << s.atMs;
    }
}

TEST(BackEndWatch, TellsHowLongTheWindowWasGone) {
    BackEndWatch watch(30000);
    watch.Observe(false, 1000);
    watch.Observe(false, 3000);
    EXPECT_EQ(watch.GoneForMs(), 2000);
    ASSERT_EQ(watch.Observe(true, 8500), Change::kBack);
    EXPECT_EQ(watch.GoneForMs(), 7500);
}

TEST(BackEndWatch, LooksAFewTimesWithinTheBoundAtMostEveryTwoSeconds) {
    EXPECT_EQ(BackEndWatch(30000).CheckPeriodMs(), 2000u);
    EXPECT_EQ(BackEndWatch(2000).CheckPeriodMs(), 500u);
    EXPECT_EQ(BackEndWatch(100).CheckPeriodMs(), 100u);
}

TEST(BackEndWatch, TheBoundComesFromTheEnvironmentWhenItNamesOne) {
    const struct {
        const char* value;
        int64_t boundMs;
    } cases[] = {
        {nullptr, 30000}, {"", 30000},   {"5", 5000},   {"86400", 86400000},
        {"0", 30000},     {"-3", 30000}, {"2s", 30000}, {"86401", 30000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        ScopedEnv env("QM_BACKEND_GONE_SECONDS", c.value);
        EXPECT_EQ(BackEndGoneBoundMs(), c.boundMs);
    }
}

}  // namespace
}  // namespace qm::test
