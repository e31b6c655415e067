// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/Conversions.h"

#include "monitor/QStringPrinter.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>
#include <utility>

TEST(RoundToStep, HalvesGoAwayFromZeroAndAStepBelowOneCountsAsOne) {
  struct Case {
    double value;
    int step, rounded;
  };
  const Case cases[] = {{2.5, 1, 3},   {-2.5, 1, -3},   {2.49, 1, 2}, {-2.49, 1, -2}, {0.0, 1, 0},
                        {12.5, 5, 15}, {-12.4, 5, -10}, {2.5, 0, 3},  {-7.6, -4, -8}};
  for (const Case& c : cases)
    EXPECT_EQ(RoundToStep(c.value, c.step), c.rounded) << c.value << " step " << c.step;
}

TEST(TemperatureConversion, KnownValues) {
  using Pairs = std::initializer_list<std::pair<int, int>>;
  for (auto [c, f] : Pairs{{25, 77}, {-40, -40}, {-33, -27}, {0, 32}, {-10, 14}, {-99, -146}})
    EXPECT_EQ(CelsiusToFahrenheit(c), f) << c;
  for (auto [f, c] : Pairs{{77, 25}, {0, -18}, {50, 10}, {1, -17}, {-40, -40}, {14, -10}, {32, 0}})
    EXPECT_EQ(FahrenheitToCelsius(f), c) << f;
}

// Limits are converted each time the user switches the unit; switching back
// must give the user's numbers back, however often it is done.
TEST(TemperatureConversion, CelsiusSurvivesARoundTrip) {
  for (int c = -200; c <= 300; ++c) {
    EXPECT_EQ(FahrenheitToCelsius(CelsiusToFahrenheit(c)), c) << c;
  }
}

// Limits may be typed or stored up to the ends of the int range.
TEST(TemperatureConversion, ResultsBeyondTheIntRangeStayAtItsEnds) {
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  EXPECT_EQ(CelsiusToFahrenheit(2'000'000'000), kMax);
  EXPECT_EQ(CelsiusToFahrenheit(kMax), kMax);
  EXPECT_EQ(CelsiusToFahrenheit(kMin), kMin);
  EXPECT_NEAR(FahrenheitToCelsius(kMin), -1'193'046'528, 100);
  EXPECT_NEAR(FahrenheitToCelsius(kMax), 1'193'046'528, 100);
}

TEST(TemperatureText, ShowsTheDisplayUnitWithADegreeSign) {
  EXPECT_EQ(TemperatureText(-35, true), QString::fromUtf8("-35\u00B0C"));
  EXPECT_EQ(TemperatureText(25, false), QString::fromUtf8("77\u00B0F"));
  EXPECT_EQ(TemperatureText(-40, false), QString::fromUtf8("-40\u00B0F"));
  EXPECT_EQ(TemperatureText(-99, true), QString::fromUtf8("-99\u00B0C"));
}
