// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Temperature conversions and rounding shared by the monitor view, the limit
// fields, the front-panel display and the tray hint. Every place that shows a
// temperature in Fahrenheit must agree to the degree, so they all go through
// these.

#include <QString>

// Rounds to a multiple of step with halves away from zero (2.5 -> 3,
// -2.5 -> -3). A step of 0 or less counts as 1.
double RoundToStep(double value, double step);

// Both conversions compute in single precision, then round to a whole degree:
// limits switched back and forth between the units must come back to the same
// numbers (-10 C -> 14 F -> -10 C). A result beyond the int range stays at
// its end.
int CelsiusToFahrenheit(int celsius);
int FahrenheitToCelsius(int fahrenheit);

// A temperature held in Celsius as the user sees it: "-35°C", or "77°F" when
// the display unit is Fahrenheit.
QString TemperatureText(int celsius, bool celsiusFlag);

// The whole number a caption holds (the boot temperature's item); throws
// "'<text>' is not a valid integer value" for anything else.
int IntegerCaption(const QString& text);
