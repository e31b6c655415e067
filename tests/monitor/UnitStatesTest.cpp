// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/UnitStates.h"


#include "monitor/QStringPrinter.h"

#include <gtest/gtest.h>

// Unknown codes are taken for the plain "Normal" state 3.
TEST(UnitStates, OperatingAndUnknownStatesAreGreenAndQuiet) {
  for (int code : {1, 3, 4, 8, 79, 88, 255}) {
    const UnitStateInfo s = LookupUnitState(static_cast<std::uint8_t>(code));
    EXPECT_EQ(s.code, code <= 4 ? code : 3) << code;
    EXPECT_EQ(s.caption, QStringLiteral("Normal")) << code;
    EXPECT_TRUE(s.queuedText.isEmpty()) << code;
    EXPECT_EQ(s.colour, PanelColour::Green) << code;
  }
  const UnitStateInfo rest = LookupUnitState(7);
  EXPECT_EQ(rest.caption, QStringLiteral("REST"));
  EXPECT_EQ(rest.queuedText, QStringLiteral("REST"));
  EXPECT_EQ(rest.colour, PanelColour::Green);
}

TEST(UnitStates, FaultsCarryTheUnitsOwnWordingAndColour) {
  const UnitStateInfo critical = LookupUnitState(84);
  EXPECT_EQ(critical.queuedText,
            QStringLiteral("CRITICAL TEMPERATURE -  System is critical in controlling the temperature"));
  EXPECT_EQ(critical.caption, QStringLiteral("CRITICAL TEMPERATURE"));
  EXPECT_EQ(critical.colour, PanelColour::Orange);

  EXPECT_EQ(LookupUnitState(80).queuedText,
            QStringLiteral("TO SLOW - The cooling didnt reach appropiate temperature in time"));
  EXPECT_EQ(LookupUnitState(86).queuedText,
            QStringLiteral("STOP FAILURE - Unsuccesfull attempt to stop the system"));
  EXPECT_EQ(LookupUnitState(87).queuedText,
            QStringLiteral("SWITCH ERROR - The compressor's thermal switch did go open"));

  for (int code : {80, 83, 85, 86, 87}) EXPECT_EQ(LookupUnitState(code).colour, PanelColour::Red) << code;
  for (int code : {81, 82, 84}) EXPECT_EQ(LookupUnitState(code).colour, PanelColour::Orange) << code;
}

TEST(UnitStates, OnlyKnownFaultCodesSurviveAsFaults) {
  for (int code = 0; code <= 255; ++code) {
    const std::uint8_t taken = LookupUnitState(static_cast<std::uint8_t>(code)).code;
    EXPECT_EQ(IsFaultCode(taken), code >= 80 && code <= 87) << code;
  }
}
