// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of the unit's replies: what a window not ready or not
// shown takes in, the temperature and fan rows, the "N/A" rule, the
// temperature unit and the running hours sent back at the close.

#include "WindowFixture.h"
#include "config/SettingsKey.h"
#include "widgets/Palette.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>

namespace {

class StatusCycleTest : public WindowFixture {
 protected:
  void SetUp() override {
    WindowFixture::SetUp();
    AnswerAsTheUnit(false);
  }
};

TEST_F(StatusCycleTest, BeforeTheWindowIsReadyOrWhileItIsNotShownARepliesOnlyUpdatesTheReadings) {
  reading.state = 85;  // a red fault: the cycle would queue its text
  reading.tenths[0] = -255;
  // The start-up status read, with the window already on screen but its
  // construction not finished.
  bool shownBeforeReady = false;
  fakes.link.respond = [this, &shownBeforeReady](const Bytes& req) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* window = qobject_cast<TForm1*>(w);
      if (!window || window->FormReady()) continue;
      window->show();
      shownBeforeReady = window->isVisible();
    }
    return FakeLink::Answer{28, req[1] == 0x01 ? MakeReplyFrame(0x01, StatusPayload(reading))
                                               : MakeReplyFrame(req[1])};
  };
  Start(false);
  ASSERT_TRUE(shownBeforeReady);
  EXPECT_EQ(SensorTable[1].Temperature, -25);
  EXPECT_EQ(ui().SystemStatPanel->text(), "Initializing");
  EXPECT_TRUE(Drain().isEmpty());

  // Ready, but not shown.
  AnswerAsTheUnit(false);
  Start(false);
  reading.tenths[0] = -355;
  Poll();
  EXPECT_EQ(SensorTable[1].Temperature, -35);
  EXPECT_EQ(ui().SystemStatPanel->text(), "Initializing");
  EXPECT_TRUE(Drain().isEmpty());
}

TEST_F(StatusCycleTest, TemperatureAndFanRowsFollowTheReply) {
  Start();
  reading.tenths = {-350, 251, 300, -990, 100};
  reading.front = 0;
  reading.rear = 1450;
  ui().SetupSensorComboBox3->setEditText("Harddisk");
  Poll();
  EXPECT_EQ(ui().Temp1->text(), QString("-35\u00B0C"));
  EXPECT_EQ(ui().ShowSensor1->text(), "Evaporator");
  // Sensor 2 "Optional": hidden although it has a reading.
  EXPECT_TRUE(ui().Temp2->isHidden());
  EXPECT_FALSE(ui().Temp3->isHidden());
  EXPECT_EQ(ui().ShowSensor3->text(), "Harddisk");
  EXPECT_EQ(ui().Temp3->text(), QString("30\u00B0C"));
  EXPECT_TRUE(ui().Temp4->isHidden());  // no reading: "N/A"

  EXPECT_EQ(ui().FanRPM1->text(), "0 RPM");
  EXPECT_EQ(ui().Fan1StatusLabel->text(), "Stopped");
  EXPECT_EQ(TextColor(ui().Fan1StatusLabel), StatusRed);
  EXPECT_EQ(ui().FanRPM2->text(), "1450 RPM");
  EXPECT_EQ(ui().Fan2StatusLabel->text(), "Normal");
  EXPECT_EQ(TextColor(ui().Fan2StatusLabel), StatusGreen);

  // An impossible speed leaves the row as it was; a running fan shows its mode.
  reading.rear = 12000;
  reading.front = 1200;
  Poll();
  EXPECT_EQ(ui().FanRPM2->text(), "1450 RPM");
  EXPECT_EQ(ui().FanRPM1->text(), "1200 RPM");
  EXPECT_EQ(ui().Fan1StatusLabel->text(), "Normal");
  EXPECT_EQ(TextColor(ui().Fan1StatusLabel), StatusGreen);

  // A row made "Optional" hides its state panel with the rest of the row,
  // whatever level the sensor had.
  EXPECT_TRUE(ui().TempStat2->isHidden());
  ui().SetupSensorComboBox3->setCurrentIndex(0);
  Poll();
  EXPECT_TRUE(ui().TempStat3->isHidden());
}

TEST_F(StatusCycleTest, ASensorWithoutReadingStaysNotAvailableForTheRun) {
  Start();
  ui().SetupSensorComboBox3->setEditText("Compressor");
  reading.tenths[2] = -990;
  Poll();
  EXPECT_EQ(SensorTable[3].Name, "N/A");
  EXPECT_EQ(ui().SetupSensorComboBox3->currentText(), "N/A");
  EXPECT_FALSE(ui().SetupSensorComboBox3->isEnabled());
  EXPECT_FALSE(ui().Par3HighLow->isEnabled());
  EXPECT_FALSE(ui().Sensor3Alm->isEnabled());
  EXPECT_FALSE(ui().Sensor3ShDn->isEnabled());

  reading.tenths[2] = 250;  // the reading comes back: the name does not
  Poll();
  EXPECT_EQ(SensorTable[3].Name, "N/A");
  EXPECT_FALSE(ui().SetupSensorComboBox3->isEnabled());
  EXPECT_TRUE(ui().Temp3->isHidden());

  // Sensor 1 is never "N/A": it shows the marker like any value.
  reading.tenths[0] = -990;
  Poll();
  EXPECT_EQ(ui().Temp1->text(), QString("-99\u00B0C"));
}

TEST_F(StatusCycleTest, SwitchingTheUnitConvertsTheLimitsSavesAtOnceAndSendsTheLetter) {
  Start();
  // The unit has reported its settings block (so packet 02 may be sent).
  Device.Settings.SetOperatingHours(1250);
  Device.Settings.SetUnitLetter('C');
  ui().FahrenheitRadioButton->click();
  EXPECT_FALSE(CelsiusFlag);
  EXPECT_EQ(ui().Sensor1Alm->value(), 14);
  EXPECT_EQ(ui().Sensor1ShDn->value(), 32);
  EXPECT_EQ(SensorTable[1].WarningLimit, 14);
  EXPECT_EQ(ui().Sensor2Alm->value(), 41);
  EXPECT_FALSE(SettingsKey(fakes.settingsPath(), SettingsKey::Open::Existing).ReadBool("FahrenCel"));
  EXPECT_TRUE(form->Settings().Pending[PendingUnitSettings]);

  fakes.link.requests.clear();
  form->Settings().WriteChangesTimerTimer();
  const auto writes = fakes.link.RequestsNumbered(0x02);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0][3 + 1], 'F');
  EXPECT_EQ(writes[0][3 + 2], 0x02);

  // Temperatures follow the unit.
  reading.tenths[0] = 250;
  Poll();
  EXPECT_EQ(ui().Temp1->text(), QString("77\u00B0F"));

  // Clicking the button already checked changes and writes nothing.
  fakes.link.requests.clear();
  form->Settings().ClearPendingFlags();
  ui().FahrenheitRadioButton->click();
  EXPECT_EQ(ui().Sensor1Alm->value(), 14);
  EXPECT_FALSE(form->Settings().Pending[PendingUnitSettings]);

  ui().CelsiusRadioButton->click();
  EXPECT_TRUE(CelsiusFlag);
  EXPECT_EQ(ui().Sensor1Alm->value(), -10);
  EXPECT_EQ(ui().Sensor1ShDn->value(), 0);
  EXPECT_EQ(ui().Sensor2Alm->value(), 5);
}

TEST_F(StatusCycleTest, ClosingSendsTheRunningHoursBackOnlyOnceTheUnitHasReportedThem) {
  Start();
  fakes.link.requests.clear();
  form->close();
  EXPECT_TRUE(fakes.link.RequestsNumbered(0x02).empty());  // caption still "-1"
  EXPECT_EQ(fakes.link.RequestsNumbered(0x06).size(), 1u);

  Start();
  Device.Settings.SetOperatingHours(300);
  form->Model().operatingHours = 301;  // one hour counted since the report
  fakes.link.requests.clear();
  form->close();
  const auto writes = fakes.link.RequestsNumbered(0x02);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0][3 + 17] | (writes[0][3 + 18] << 8), 301);
  EXPECT_EQ(fakes.link.requests.front()[1], 0x02);  // before the display is blanked
}

}  // namespace
