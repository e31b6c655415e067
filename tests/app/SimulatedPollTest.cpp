// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program against the simulated unit: what the unit's firmware
// model holds must be what the System tab shows after a poll.

#include "WindowFixture.h"
#include "widgets/Palette.h"

#include "SimUnitLink.h"
#include "SimulatedUnit.h"

#include <QLabel>

namespace {

class SimulatedPollTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    unit.Advance(400);  // well past power-up and boot delay
    Services s = fakes.services();
    s.link = &link;
    StartWith(s);
  }

  unitsim::SimulatedUnit unit{42};
  unitsim::SimUnitLink link{unit};
};

TEST_F(SimulatedPollTest, OnePollShowsTheUnitsTemperaturesAndFans) {
  unit.SetSensor(1, -34.0);
  unit.SetSensor(3, 41.0);
  ui().SetupSensorComboBox3->setEditText("Graphic Processor");
  form->Watcher().UpdateDataTimerTimer();
  EXPECT_EQ(ui().Temp1->text(), QString("-34\u00B0C"));
  EXPECT_EQ(ui().Temp3->text(), QString("41\u00B0C"));
  EXPECT_EQ(ui().FanRPM1->text(), QString::number(unit.FanRpm(1)) + " RPM");
  EXPECT_EQ(ui().FanRPM2->text(), QString::number(unit.FanRpm(2)) + " RPM");
  EXPECT_EQ(Device.Status.UnitState, unit.State());
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();
  // The unit's running hours reached the Misc. tab at start-up.
  EXPECT_EQ(ui().OperHours->text(), QString::number(unit.OperatingHours()));
}

TEST_F(SimulatedPollTest, AHardFaultArmsTheShutdownAndItsEndCancelsIt) {
  unit.ForceState(85);
  form->Watcher().UpdateDataTimerTimer();
  EXPECT_EQ(ui().SystemStatPanel->text(), "TEMPERATURE FAILURE");
  EXPECT_EQ(TextColor(ui().SystemStatPanel), StatusRed);
  EXPECT_TRUE(form->Alarm().ShutDownTimer.isActive());
  EXPECT_TRUE(form->Alarm().BlinkTimer.isActive());

  unit.ClearForcedState();
  unit.Advance(3);
  form->Watcher().UpdateDataTimerTimer();
  EXPECT_FALSE(form->Alarm().ShutDownTimer.isActive());
  EXPECT_FALSE(form->Alarm().BlinkTimer.isActive());
  EXPECT_EQ(fakes.powerOff.requests, 0);
}

}  // namespace
