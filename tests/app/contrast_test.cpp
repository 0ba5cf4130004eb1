// The rule that keeps the windows' own colours readable on any scheme.
#include "Contrast.h"

#include <gtest/gtest.h>

using contrast::ratio;
using contrast::readable;

TEST(Contrast, RatioRunsFromOneToTwentyOneEitherWay)
{
    EXPECT_DOUBLE_EQ(ratio(Qt::black, Qt::white), 21.0);
    EXPECT_DOUBLE_EQ(ratio(Qt::white, Qt::black), 21.0);
    EXPECT_DOUBLE_EQ(ratio(QColor(90, 30, 200), QColor(90, 30, 200)), 1.0);
    // The tool bar's pure blue: fine on the light grey, not on a dark one.
    EXPECT_NEAR(ratio(Qt::blue, QColor(240, 240, 240)), 7.5, 0.1);
    EXPECT_NEAR(ratio(Qt::blue, QColor(53, 53, 53)), 1.4, 0.1);
}

TEST(Contrast, ReadableKeepsTheWantedColourOnlyWhereEveryBackgroundAllowsIt)
{
    const QColor light(240, 240, 240);
    const QColor dark(53, 53, 53);
    EXPECT_EQ(readable(Qt::blue, {light}, Qt::black), QColor(Qt::blue));
    EXPECT_EQ(readable(Qt::blue, {dark}, Qt::white), QColor(Qt::white));
    // One unreadable background is enough to give the wanted colour up.
    EXPECT_EQ(readable(Qt::blue, {light, dark}, Qt::gray), QColor(Qt::black));
    // A fallback that fails too gives way to black or white, the better one.
    EXPECT_EQ(readable(QColor(216, 213, 249), {Qt::white}, QColor(250, 250, 250)), QColor(Qt::black));
    EXPECT_EQ(readable(Qt::blue, {Qt::black}, QColor(20, 20, 20)), QColor(Qt::white));
    // Exactly 4.5:1 is readable.
    EXPECT_EQ(readable(QColor(118, 118, 118), {Qt::white}, Qt::black), QColor(118, 118, 118));
}
