// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/Conversions.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace {

// A limit can be typed or stored up to the ends of the int range, where the
// converted value no longer fits: it stays at the end of the range instead.
int SaturatedInt(double value) {
  constexpr double kLowest = std::numeric_limits<int>::min();
  constexpr double kHighest = std::numeric_limits<int>::max();
  if (std::isnan(value)) return 0;
  if (value <= kLowest) return std::numeric_limits<int>::min();
  if (value >= kHighest) return std::numeric_limits<int>::max();
  return static_cast<int>(value);
}

}  // namespace

double RoundToStep(double value, double step) {
  if (step <= 0) step = 1;
  if (value > 0) return std::trunc((value + step / 2) / step) * step;
  if (value < 0) return std::trunc((value - step / 2) / step) * step;
  return 0;
}

int CelsiusToFahrenheit(int celsius) {
  constexpr float kFactor = 1.8f;
  const float f = kFactor * static_cast<float>(celsius) + 32.0f;
  return SaturatedInt(RoundToStep(f, 1));
}

int FahrenheitToCelsius(int fahrenheit) {
  constexpr float kFactor = 0.5555556f;  // 5/9 as single precision holds it
  const float c = static_cast<float>(static_cast<std::int64_t>(fahrenheit) - 32) * kFactor;
  return SaturatedInt(RoundToStep(c, 1));
}

QString TemperatureText(int celsius, bool celsiusFlag) {
  static const QChar kDegree(0x00B0);
  if (celsiusFlag) return QString::number(celsius) + kDegree + u'C';
  return QString::number(CelsiusToFahrenheit(celsius)) + kDegree + u'F';
}

int IntegerCaption(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok) throw std::runtime_error(QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString());
  return value;
}
