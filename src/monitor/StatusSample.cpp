// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/StatusSample.h"

QString StatusColourName(StatusColour colour) {
  switch (colour) {
    case StatusColour::Green: return QStringLiteral("green");
    case StatusColour::Orange: return QStringLiteral("orange");
    case StatusColour::Red: return QStringLiteral("red");
  }
  return QStringLiteral("green");
}
