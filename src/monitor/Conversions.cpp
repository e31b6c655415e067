// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/Conversions.h"

#include <cmath>

double RoundToStep(double value, double step) {
  if (step <= 0) step = 1;
  if (value > 0) return std::trunc((value + step / 2) / step) * step;
  if (value < 0) return std::trunc((value - step / 2) / step) * step;
  return 0;
}

int CelsiusToFahrenheit(int celsius) {
  constexpr float kFactor = 1.8f;
  const float f = kFactor * static_cast<float>(celsius) + 32.0f;
  return static_cast<int>(RoundToStep(f, 1));
}

int FahrenheitToCelsius(int fahrenheit) {
  constexpr float kFactor = 0.5555556f;  // 5/9 as single precision holds it
  const float c = static_cast<float>(fahrenheit - 32) * kFactor;
  return static_cast<int>(RoundToStep(c, 1));
}

QString TemperatureText(int celsius, bool celsiusFlag) {
  static const QChar kDegree(0x00B0);
  if (celsiusFlag) return QString::number(celsius) + kDegree + u'C';
  return QString::number(CelsiusToFahrenheit(celsius)) + kDegree + u'F';
}
