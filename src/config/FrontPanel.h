// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The unit's two-line, 16-character front panel: how a line of text becomes a
// write packet, and how line 2 is composed from three chosen readings.

#include "device/Packet.h"

#include <QByteArray>
#include <QString>

#include <array>

namespace frontpanel {

constexpr int kLineWidth = 16;
constexpr int kPaddedWidth = 25;

// The display's character set. Characters it cannot show become '?'.
QByteArray ToWindows1252(const QString& text);

// Write packet 06 (line 1) or 07 (line 2): the text padded with spaces, its
// first 16 characters, then eight spaces.
packet::Request MakeLinePacket(std::uint8_t number, const QString& text);

// What each line-2 parameter needs to know.
struct Line2Inputs {
  std::array<int, 5> temperatures{};  // whole degrees Celsius, sensors 1..5
  bool celsius = true;
  char displayType = 0;  // 'W' or 'E' choose the unit's degree glyph
  int cpuSpeedMHz = 0;
  int cpuLoadPercent = 0;
};

// One parameter: 0..4 a sensor temperature, 5 CPU speed, 6 CPU load, 7 blank;
// anything else (no selection) contributes nothing.
QString Line2Piece(int item, const Line2Inputs& in);
QString ComposeLine2(int param1, int param2, int param3, const Line2Inputs& in);

}  // namespace frontpanel
