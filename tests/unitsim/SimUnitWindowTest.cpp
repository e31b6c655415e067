// SPDX-License-Identifier: GPL-3.0-or-later
// What the unit's window makes of the display bytes the host sends.

#include "SimUnitWindow.h"

#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include <array>
#include <string>

using unitsim::DecodeFrontPanelBytes;

TEST(SimUnitFrontPanel, BothDegreeBytesShowAsADegreeSignAndTheRestAsWindows1252) {
  EXPECT_EQ(DecodeFrontPanelBytes("-35\xDF"), QStringLiteral("-35\u00B0"));
  EXPECT_EQ(DecodeFrontPanelBytes("-35\xB2"), QStringLiteral("-35\u00B0"));
  EXPECT_EQ(DecodeFrontPanelBytes("\x80\x93\x94\x96"), QStringLiteral("\u20AC\u201C\u201D\u2013"));
  EXPECT_EQ(DecodeFrontPanelBytes("Caf\xE9 \xC4"), QStringLiteral("Caf\u00E9 \u00C4"));
  EXPECT_EQ(DecodeFrontPanelBytes(std::string("A\0B\x07", 4)), QStringLiteral("A B "));
}

TEST(SimUnitWindow, ShowsTheLinesTheUnitWasSent) {
  unitsim::SimulatedUnit unit(1);
  unitsim::SimUnitWindow window(unit, false);
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Simulated unit"));

  std::array<std::uint8_t, 28> packet{0x01, 0x07, 0x02};
  const std::string text = "2400MHz 7% -35\xDF ";
  std::fill(packet.begin() + 3, packet.end() - 1, 0x20);
  std::copy(text.begin(), text.end(), packet.begin() + 3);
  packet[27] = 0x04;
  ASSERT_TRUE(unit.Receive(packet.data(), packet.size()));
  unit.ForceState(82);
  window.Refresh();

  auto* line2 = window.findChild<QLabel*>(QStringLiteral("FrontPanelLine2"));
  ASSERT_NE(line2, nullptr);
  EXPECT_EQ(line2->text(), QStringLiteral("2400MHz 7% -35\u00B0 "));
  auto* state = window.findChild<QLabel*>(QStringLiteral("UnitStateLabel"));
  ASSERT_NE(state, nullptr);
  EXPECT_TRUE(state->text().contains(QStringLiteral("FAN FAILED")));
  EXPECT_EQ(unit.Now(), 0.0) << "a window not following the wall clock leaves time alone";
}

TEST(SimUnitWindow, ItsReadingsSleepWhileItIsOutOfSightAndCatchUpWhenItIsBack) {
  unitsim::SimulatedUnit unit(1);
  unitsim::SimUnitWindow window(unit, false);
  auto* state = window.findChild<QLabel*>(QStringLiteral("UnitStateLabel"));
  ASSERT_NE(state, nullptr);
  const auto shows = [&](const char* name) {
    return QTest::qWaitFor([&] { return state->text().contains(QLatin1String(name)); }, 2000);
  };
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  unit.ForceState(82);
  EXPECT_TRUE(shows("FAN FAILED"));

  window.hide();
  unit.ForceState(84);
  QTest::qWait(800);  // more than one refresh period
  EXPECT_TRUE(state->text().contains(QLatin1String("FAN FAILED")));

  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  EXPECT_TRUE(state->text().contains(QLatin1String("CRITICAL TEMPERATURE"))) << "not brought up to date at once";
  unit.ForceState(85);
  EXPECT_TRUE(shows("TEMPERATURE FAILURE")) << "the refresh did not start again";
}
