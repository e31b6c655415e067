// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Names and built-in defaults of the stored settings ("values", as the key
// holding them calls them). The names are those the program has always stored,
// so an existing configuration keeps loading.

#include <QString>

#include <array>
#include <cstdint>

namespace settings {

// Per sensor. Sensor 1 (the evaporator) has no stored name and no higher/lower
// choice: it is always "Evaporator" and always "Higher".
inline QString SensorWarnValue(int sensor) { return QStringLiteral("Sensor%1Warn").arg(sensor); }      // 1..5
inline QString SensorShutdownValue(int sensor) { return QStringLiteral("Sensor%1SDN").arg(sensor); }   // 1..5
inline QString SensorNameValue(int sensor) { return QStringLiteral("Sensor%1").arg(sensor); }          // 2..5
inline QString SensorHigherLowerValue(int sensor) { return QStringLiteral("Sensor%1HL").arg(sensor); }  // 2..5
inline QString DisplayParamValue(int param) { return QStringLiteral("Param%1Index").arg(param); }      // 1..3

inline const QString kDisplayLine1Primary = QStringLiteral("DisplayLine1P");
inline const QString kDisplayLine1Secondary = QStringLiteral("DisplayLine1S");
inline const QString kBootIndex = QStringLiteral("BootIndex");
inline const QString kWarningHandlingIndex = QStringLiteral("Warning handling Index");
inline const QString kFahrenCel = QStringLiteral("FahrenCel");  // 1 = Celsius
inline const QString kDisplayUpdateInterval = QStringLiteral("Display Update Interval");
inline const QString kNextRemind = QStringLiteral("Next Remind");  // 8-byte date-time
// Text "VVVV:PPPP": the USB ids of the user's own unit. Only read, never
// written by the program; missing means the built-in pair.
inline const QString kUnitUsbId = QStringLiteral("Unit USB id");
inline const QString kNotifications = QStringLiteral("Notifications");  // desktop notifications on
// Text; where the error report goes. Missing or blank: the maker's mailbox.
inline const QString kReportAddress = QStringLiteral("Report address");

// Defaults when a value is missing. Limits are in the display unit.
constexpr std::int32_t kDefaultEvaporatorWarn = -10;
constexpr std::int32_t kDefaultSensorWarn = 5;  // sensors 2..5
constexpr std::int32_t kDefaultShutdown = 0;    // all five sensors
constexpr std::array<int, 3> kDefaultDisplayParams{5, 6, 0};
inline const QString kDefaultLine1Primary = QStringLiteral("Speed Load Temp");
inline const QString kDefaultLine1Secondary = QStringLiteral("Quelmark");
constexpr int kDefaultBootIndex = 33;  // "-33"
constexpr int kDefaultWarningHandling = 0;
constexpr bool kDefaultNotifications = true;
constexpr int kDefaultDisplayInterval = 0;  // "5 Sec"

// Line-1 alternation period for each item of the interval list. The last item
// ("Never") has no period of its own: the timer keeps kNeverIntervalMs.
constexpr std::array<int, 7> kDisplayIntervalMs{5000, 10000, 30000, 60000, 180000, 300000, 600000};
constexpr int kNeverIntervalMs = 50'000'000;

// Whether the interval list's item names a period ("Never" does not).
inline bool HasDisplayInterval(int item) {
  return item >= 0 && item < static_cast<int>(kDisplayIntervalMs.size());
}

inline int DisplayIntervalMs(int item) {
  if (!HasDisplayInterval(item)) return kNeverIntervalMs;
  return kDisplayIntervalMs[static_cast<std::size_t>(item)];
}

}  // namespace settings
