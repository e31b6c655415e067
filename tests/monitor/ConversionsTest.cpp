#include "monitor/Conversions.h"

#include "monitor/QStringPrinter.h"

#include <gtest/gtest.h>

TEST(RoundToStep, HalvesGoAwayFromZero) {
  EXPECT_EQ(RoundToStep(2.5, 1), 3);
  EXPECT_EQ(RoundToStep(-2.5, 1), -3);
  EXPECT_EQ(RoundToStep(2.49, 1), 2);
  EXPECT_EQ(RoundToStep(-2.49, 1), -2);
  EXPECT_EQ(RoundToStep(0.0, 1), 0);
  EXPECT_EQ(RoundToStep(12.5, 5), 15);
  EXPECT_EQ(RoundToStep(-12.4, 5), -10);
}

TEST(RoundToStep, StepOfZeroOrLessCountsAsOne) {
  EXPECT_EQ(RoundToStep(2.5, 0), 3);
  EXPECT_EQ(RoundToStep(-7.6, -4), -8);
}

TEST(TemperatureConversion, KnownValues) {
  EXPECT_EQ(CelsiusToFahrenheit(25), 77);
  EXPECT_EQ(CelsiusToFahrenheit(-40), -40);
  EXPECT_EQ(CelsiusToFahrenheit(-33), -27);
  EXPECT_EQ(CelsiusToFahrenheit(0), 32);
  EXPECT_EQ(CelsiusToFahrenheit(-10), 14);
  EXPECT_EQ(CelsiusToFahrenheit(-99), -146);

  EXPECT_EQ(FahrenheitToCelsius(77), 25);
  EXPECT_EQ(FahrenheitToCelsius(0), -18);
  EXPECT_EQ(FahrenheitToCelsius(50), 10);
  EXPECT_EQ(FahrenheitToCelsius(1), -17);
  EXPECT_EQ(FahrenheitToCelsius(-40), -40);
  EXPECT_EQ(FahrenheitToCelsius(14), -10);
  EXPECT_EQ(FahrenheitToCelsius(32), 0);
}

// Limits are converted each time the user switches the unit; switching back
// must give the user's numbers back, however often it is done.
TEST(TemperatureConversion, CelsiusSurvivesARoundTrip) {
  for (int c = -200; c <= 300; ++c) {
    EXPECT_EQ(FahrenheitToCelsius(CelsiusToFahrenheit(c)), c) << c;
  }
}

TEST(TemperatureText, ShowsTheDisplayUnitWithADegreeSign) {
  EXPECT_EQ(TemperatureText(-35, true), QString::fromUtf8("-35\u00B0C"));
  EXPECT_EQ(TemperatureText(25, false), QString::fromUtf8("77\u00B0F"));
  EXPECT_EQ(TemperatureText(-40, false), QString::fromUtf8("-40\u00B0F"));
  EXPECT_EQ(TemperatureText(-99, true), QString::fromUtf8("-99\u00B0C"));
}
