// The keep-or-jump rule, the inertia levels and the Control Change bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/generator.h"

namespace {

// A current value no draw can produce, so every change is a new draw.
constexpr int OUTSIDE = -5;

// How many of n calls drew a new value.
int draws(int inertia, int n, int max = 127, int min = 0) {
    int count = 0;
    for (int i = 0; i < n; ++i)
        count += random_inertia_interval(inertia, max, min, OUTSIDE) != OUTSIDE;
    return count;
}

TEST(Generator, InertiaZeroAlwaysDrawsAndTenNever) {
    srand(11);
    EXPECT_EQ(20000, draws(0, 20000));
    EXPECT_EQ(0, draws(10, 20000));
    // Inertia 10 keeps any current value, also one inside the range.
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(42, random_inertia_interval(10, 127, 0, 42));
}

TEST(Generator, InertiaKDrawsWithProbabilityOneInKPlusOne) {
    const int n = 60000;
    for (int k = 1; k <= 9; ++k) {
        srand(100 + k);
        double p = 1.0 / (k + 1);
        double share = static_cast<double>(draws(k, n)) / n;
        // Five standard deviations: 1/k and 1/(k+2) are both well outside it.
        double tolerance = 5 * std::sqrt(p * (1 - p) / n);
        EXPECT_NEAR(p, share, tolerance) << "inertia " << k;
    }
}

TEST(Generator, NewValuesStayInMinToMaxMinusOne) {
    srand(3);
    std::vector<int> seen(128, 0);
    for (int i = 0; i < 30000; ++i) {
        int v = random_inertia_interval(0, 127, 0, OUTSIDE);
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 126) << "127 must never be generated";
        ++seen[v];
    }
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[126], 0);

    std::vector<int> inner(128, 0);
    for (int i = 0; i < 5000; ++i) {
        int v = random_inertia_interval(0, 30, 20, OUTSIDE);
        ASSERT_GE(v, 20);
        ASSERT_LE(v, 29);
        ++inner[v];
    }
    EXPECT_GT(inner[20], 0);
    EXPECT_GT(inner[29], 0);

    // The panel-free variant draws 0..126 too.
    int highest = 0;
    for (int i = 0; i < 30000; ++i)
        highest = std::max(highest, random_inertia(0, OUTSIDE));
    EXPECT_EQ(126, highest);
}

TEST(Generator, NarrowAndEmptyRangesGiveMin) {
    srand(5);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_EQ(50, random_inertia_interval(0, 51, 50, OUTSIDE)) << "max = min + 1";
        ASSERT_EQ(50, random_inertia_interval(0, 50, 50, OUTSIDE)) << "max = min";
        ASSERT_EQ(0, random_inertia_interval(0, 0, 0, OUTSIDE));
        ASSERT_EQ(127, random_inertia_interval(0, 127, 127, OUTSIDE));
    }
}

TEST(Generator, InertiaLevelsOfTheDialValue) {
    // Upper end of each level's range of dial values.
    const int ends[11] = {12, 25, 38, 50, 63, 76, 88, 101, 114, 126, 127};
    int level = 0;
    for (int v = 0; v <= 127; ++v) {
        if (v > ends[level]) ++level;
        EXPECT_EQ(level, inertia_level(v)) << "v = " << v;
        EXPECT_EQ(inertia_level(v), range_int(v, 127.0f, 10.0f)) << "v = " << v;
    }
    EXPECT_EQ(10, level);
}

TEST(Generator, ControlChangeBytesAndLimits) {
    std::vector<unsigned char> msg{128, 0, 0};
    fill_control_change(msg, 3, 74, 64);
    EXPECT_EQ((std::vector<unsigned char>{179, 74, 64}), msg);
    fill_control_change(msg, 0, 0, 126);
    EXPECT_EQ((std::vector<unsigned char>{176, 0, 126}), msg);
    fill_control_change(msg, 15, 127, 0);
    EXPECT_EQ((std::vector<unsigned char>{191, 127, 0}), msg);

    // Channels the CH dial allows above 15 still give a Control Change status.
    for (int ch : {16, 100, 127}) {
        fill_control_change(msg, ch, 1, 1);
        EXPECT_EQ(191, msg[0]) << "channel " << ch;
    }
    fill_control_change(msg, -1, 1, 1);
    EXPECT_EQ(176, msg[0]);

    fill_control_change(msg, 0, 200, 300);
    EXPECT_EQ(127, msg[1]);
    EXPECT_EQ(127, msg[2]);
    fill_control_change(msg, 0, -4, -3);
    EXPECT_EQ(0, msg[1]);
    EXPECT_EQ(0, msg[2]);
    EXPECT_EQ(3u, msg.size());

    for (size_t start : {0u, 1u, 2u}) {
        std::vector<unsigned char> shortMsg(start, 9);
        fill_control_change(shortMsg, 2, 7, 100);
        EXPECT_EQ((std::vector<unsigned char>{178, 7, 100}), shortMsg) << "from " << start;
    }
}

} // namespace
