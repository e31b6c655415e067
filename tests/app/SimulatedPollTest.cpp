// The whole program against the simulated unit: what the unit's firmware
// model holds must be what the System tab shows after a poll.

#include "app/TForm1.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"
#include "widgets/Palette.h"

#include "SimUnitLink.h"
#include "SimulatedUnit.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <cmath>

namespace {

class SimulatedPollTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    unit.Advance(400);  // well past power-up and boot delay
    Services s = fakes.services();
    s.link = &link;
    form = std::make_unique<TForm1>(s);
    form->show();
  }
  void TearDown() override { form.reset(); }

  unitsim::SimulatedUnit unit{42};
  unitsim::SimUnitLink link{unit};
  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

int WholeDegrees(double celsius) { return static_cast<int>(std::trunc(std::round(celsius * 10) / 10)); }

TEST_F(SimulatedPollTest, OnePollShowsTheUnitsTemperaturesAndFans) {
  unit.SetSensor(3, 41.0);
  form->ui().SetupSensorComboBox3->setEditText("Graphic Processor");
  form->UpdateDataTimerTimer();

  auto& ui = form->ui();
  EXPECT_EQ(ui.Temp1->text(), QString::number(WholeDegrees(unit.Temperature(1))) + QString("\u00B0C"));
  EXPECT_EQ(ui.Temp3->text(), QString("41\u00B0C"));
  EXPECT_EQ(ui.FanRPM1->text(), QString::number(unit.FanRpm(1)) + " RPM");
  EXPECT_EQ(ui.FanRPM2->text(), QString::number(unit.FanRpm(2)) + " RPM");
  EXPECT_EQ(Device.Status.UnitState, unit.State());
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();

  // The unit's running hours reached the Misc. tab at start-up.
  EXPECT_EQ(ui.OperHours->text(), QString::number(unit.OperatingHours()));
}

TEST_F(SimulatedPollTest, UnpluggingLosesTheLinkAndReplugResumesDecoding) {
  unit.Unplug();
  while (!form->Queue()->IsEmpty()) form->Queue()->TakeFirst();
  form->UpdateDataTimerTimer();
  // Once for the line-2 write, once for the status request.
  EXPECT_EQ(form->Queue()->Count(), 2u);
  EXPECT_EQ(form->Queue()->TakeFirst(), kLinkLostText);
  EXPECT_EQ(form->Queue()->TakeFirst(), kLinkLostText);

  unit.Plug();
  unit.SetSensor(1, -38.0);
  form->UpdateDataTimerTimer();
  EXPECT_EQ(form->ui().Temp1->text(), QString("-38\u00B0C"));
}

TEST_F(SimulatedPollTest, AHardFaultArmsTheShutdownAndItsEndCancelsIt) {
  unit.ForceState(85);
  form->UpdateDataTimerTimer();
  EXPECT_EQ(form->ui().SystemStatPanel->text(), "TEMPERATURE FAILURE");
  EXPECT_EQ(TextColor(form->ui().SystemStatPanel), StatusRed);
  EXPECT_TRUE(form->ShutDownTimer.isActive());
  EXPECT_TRUE(form->BlinkTimer.isActive());

  unit.ClearForcedState();
  unit.Advance(3);
  form->UpdateDataTimerTimer();
  EXPECT_FALSE(form->ShutDownTimer.isActive());
  EXPECT_FALSE(form->BlinkTimer.isActive());
  EXPECT_EQ(fakes.powerOff.requests, 0);
}

TEST_F(SimulatedPollTest, AStoppedFanShowsStoppedInRed) {
  unit.StopFan(1, true);
  unit.Advance(1);
  form->UpdateDataTimerTimer();
  EXPECT_EQ(form->ui().FanRPM1->text(), "0 RPM");
  EXPECT_EQ(form->ui().Fan1StatusLabel->text(), "Stopped");
  EXPECT_EQ(TextColor(form->ui().Fan1StatusLabel), StatusRed);
}

}  // namespace
