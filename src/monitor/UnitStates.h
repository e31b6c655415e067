// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The unit's state and fault codes: what the status panel says for each, in
// which colour, and the text the status bar repeats while the state lasts.

#include "monitor/UnitModel.h"

#include <QString>

#include <cstdint>

// Codes from here on are faults; below are ordinary operating states.
constexpr std::uint8_t kFirstFaultCode = 80;
// What a code the program does not know is taken for.
constexpr std::uint8_t kNormalStateCode = 3;

struct UnitStateInfo {
  QString queuedText;  // empty: nothing goes to the status bar
  QString caption;
  PanelColour colour;  // Green, Orange or Red
  std::uint8_t code;   // the code as the program takes it (unknown codes become 3)
};

UnitStateInfo LookupUnitState(std::uint8_t code);

inline bool IsFaultCode(std::uint8_t code) { return code >= kFirstFaultCode; }
