// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The unit's condition as the window shows it: the overall status, each
// sensor's state and the running hours. The watch decides on these values
// and reads them back from here; the window's panels only show them.

#include <QString>

#include <array>
#include <cstddef>

// The status colours. Plain: a panel's own colour before the first reply.
// Silver: the armed shutdown's blink between two red flashes.
enum class PanelColour { Plain, Green, Orange, Red, Silver };

struct PanelState {
  QString caption;
  PanelColour colour = PanelColour::Plain;
  bool operator==(const PanelState&) const = default;
};

struct UnitModel {
  static constexpr int kSensors = 5;

  // The status panel (SystemStatPanel): the program's overall status.
  PanelState status{QStringLiteral("Initializing"), PanelColour::Green};
  // The state panels (TempStat1 .. TempStat5).
  std::array<PanelState, kSensors> sensorStates{};
  // The running hours (OperHours): -1 until the unit has reported them.
  int operatingHours = -1;

  PanelState& SensorState(int sensor) { return sensorStates.at(static_cast<std::size_t>(sensor - 1)); }
  const PanelState& SensorState(int sensor) const {
    return sensorStates.at(static_cast<std::size_t>(sensor - 1));
  }
};
