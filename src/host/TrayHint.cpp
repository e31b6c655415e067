// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/TrayHint.h"

#include "monitor/Conversions.h"
#include "monitor/DeviceData.h"

RelaxedAtomic<int> TrayHintSource{0};
SharedText TrayHintOverride;
SharedText TrayHintLinkLost;

QString TrayHintText(int source, int speedMHz, int loadPercent) {
  if (source >= 0 && source <= 4) {
    const int sensor = source + 1;
    const QString label = sensor == 1 ? QStringLiteral("Evaporator Temp: ")
                                      : QStringLiteral("Sensor %1 Temp: ").arg(sensor);
    const int celsius = SensorTable[sensor].Temperature;
    if (celsius == kNoReading) return label + QStringLiteral("N/A");
    return label + QString::number(CelsiusFlag ? celsius : CelsiusToFahrenheit(celsius));
  }
  if (source == 5) return QStringLiteral("CPU Speed: ") + QString::number(speedMHz) + QStringLiteral(" MHz");
  if (source == 6) return QStringLiteral("CPU load: ") + QString::number(loadPercent) + QStringLiteral(" %");
  return QString();
}
