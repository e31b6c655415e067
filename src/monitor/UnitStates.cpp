// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/UnitStates.h"

namespace {

struct Entry {
  std::uint8_t code;
  const char* queuedText;
  const char* caption;
  enum { Green, Orange, Red } colour;
};

// The texts are the unit's own wording, spelling and spacing included: users
// and the maker's support recognise them as they are.
constexpr Entry kStates[] = {
    {0, "POWER UP", "POWER UP", Entry::Green},
    {1, "", "Normal", Entry::Green},
    {2, "BOOT DELAY", "BOOT DELAY", Entry::Green},
    {3, "", "Normal", Entry::Green},
    {4, "", "Normal", Entry::Green},
    {5, "POWER DOWN", "POWER DOWN", Entry::Green},
    {6, "IDLE", "IDLE", Entry::Green},
    {7, "REST", "REST", Entry::Green},
    {80, "TO SLOW - The cooling didnt reach appropiate temperature in time", "TO SLOW", Entry::Red},
    {81, "RESTART DELAY - Compressor must rest", "RESTART DELAY", Entry::Orange},
    {82, "FAN FAILED - One or both of the fans isn't working properly", "FAN FAILED", Entry::Orange},
    {83, "SENSOR FAILED", "SENSOR FAILED", Entry::Red},
    {84, "CRITICAL TEMPERATURE -  System is critical in controlling the temperature",
     "CRITICAL TEMPERATURE", Entry::Orange},
    {85, "TEMPERATURE FAILURE - System could not control the temperature", "TEMPERATURE FAILURE",
     Entry::Red},
    {86, "STOP FAILURE - Unsuccesfull attempt to stop the system", "STOP FAILURE", Entry::Red},
    {87, "SWITCH ERROR - The compressor's thermal switch did go open", "SWITCH ERROR", Entry::Red},
};

PanelColour ColourOf(const Entry& e) {
  switch (e.colour) {
    case Entry::Orange: return PanelColour::Orange;
    case Entry::Red: return PanelColour::Red;
    case Entry::Green: break;
  }
  return PanelColour::Green;
}

}  // namespace

UnitStateInfo LookupUnitState(std::uint8_t code) {
  for (const Entry& e : kStates) {
    if (e.code == code) {
      return {QString::fromLatin1(e.queuedText), QString::fromLatin1(e.caption), ColourOf(e), e.code};
    }
  }
  return LookupUnitState(kNormalStateCode);
}
