// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One snapshot of everything the program knows after a decoded status reply,
// handed to the features that watch the unit from outside the window
// (notifications, history, the status query, metrics). It is a plain value:
// readers keep it, compare it and write it out without touching the window.

#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

enum class StatusColour { Green, Orange, Red };

struct SensorSample {
  int number = 0;            // 1..5
  QString name;              // "Evaporator" for sensor 1; "Optional", "" or "N/A": not fitted
  bool fitted = false;       // named by the user and reported by the unit
  std::optional<int> celsius;  // empty: the unit has no reading
  int level = 0;             // 0 normal, 1 warning limit reached, 2 shut-down limit reached
  bool higher = true;        // limits are reached at or above (true) or at or below
  int warningCelsius = 0;    // the limits converted to whole degrees Celsius
  int shutdownCelsius = 0;
};

struct StatusSample {
  QDateTime time;            // when the reply was decoded (local time with offset)
  std::uint8_t unitState = 0;  // state or fault code as the program took it
  QString unitCaption;       // the state table's caption for the code
  QString statusCaption;     // what the status panel says
  StatusColour statusColour = StatusColour::Green;
  std::array<SensorSample, 5> sensors{};
  int frontFanRpm = 0;
  int rearFanRpm = 0;
  int cpuClockMHz = 0;
  int cpuLoadPercent = 0;
  int runningHours = -1;     // -1 until the unit has reported them
  bool warningRaised = false;  // the alarm action ran for this reply
  bool shutdownArmed = false;
  int shutdownSecondsLeft = 0;  // while armed
  bool celsiusDisplay = true;   // the user's display unit (°C true, °F false)

  const SensorSample& sensor(int number) const { return sensors.at(static_cast<std::size_t>(number - 1)); }
};

// Lower-case colour names, as scripts and metrics show them.
QString StatusColourName(StatusColour colour);
