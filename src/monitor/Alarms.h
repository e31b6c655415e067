// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How a sensor's reading compares with its two limits.

#include "monitor/DeviceData.h"

inline const QString kCriticalText = QStringLiteral("TEMPERATURE CRITICAL - SHUTTING DOWN");
inline const QString kCancelShutdownText = QStringLiteral("CLOSE CONTROL CENTER TO CANCEL SHUTDOWN");
inline const QString kShuttingDownText = QStringLiteral("Shutting down....");

// Sets record.Level: 0 normal, 1 warning limit reached, 2 shut-down limit
// reached. Limits are held in the display unit and compared in Celsius.
// Sensors that are not fitted keep the level they had.
void EvaluateSensor(SensorRecord& record, bool celsius);
