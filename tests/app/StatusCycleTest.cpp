// The window's side of the unit's replies: the status panel, the temperature
// and fan rows, the "N/A" rule, the other replies and the temperature unit.

#include "app/TForm1.h"
#include "config/SettingsKey.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "support/StatusReply.h"
#include "ui_TForm1.h"
#include "widgets/Palette.h"

#include <QComboBox>
#include <QLabel>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <array>

namespace {


class StatusCycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDeviceData();
    fakes.link.respond = [this](const Bytes& req) {
      Bytes frame = req[1] == 0x01 ? MakeReplyFrame(0x01, StatusPayload(reading)) : MakeReplyFrame(req[1]);
      return FakeLink::Answer{28, frame};
    };
  }
  void Start() {
    form = std::make_unique<TForm1>(fakes.services());
    form->show();
  }
  void Poll() { form->ExchangePacket(packet::MakeReadRequest(0x01)); }
  Ui::TForm1& ui() { return form->ui(); }
  QStringList DrainQueue() {
    QStringList out;
    while (!form->Queue()->IsEmpty()) out << form->Queue()->TakeFirst();
    return out;
  }

  Reading reading;
  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(StatusCycleTest, StateCodesSetThePanelAndQueueTheirTextAtEveryReply) {
  Start();
  DrainQueue();
  reading.state = 84;
  Poll();
  Poll();
  Poll();
  EXPECT_EQ(ui().SystemStatPanel->text(), "CRITICAL TEMPERATURE");
  EXPECT_EQ(TextColor(ui().SystemStatPanel), StatusOrange);
  const QString text84 =
      "CRITICAL TEMPERATURE -  System is critical in controlling the temperature";
  EXPECT_EQ(DrainQueue(), (QStringList{text84, text84, text84}));

  for (std::uint8_t unknown : {8, 79}) {
    reading.state = unknown;
    Poll();
    EXPECT_EQ(ui().SystemStatPanel->text(), "Normal");
    EXPECT_EQ(TextColor(ui().SystemStatPanel), StatusGreen);
    EXPECT_EQ(Device.Status.UnitState, 3);
    EXPECT_TRUE(DrainQueue().isEmpty());
  }

  reading.state = 85;
  Poll();
  EXPECT_EQ(ui().SystemStatPanel->text(), "TEMPERATURE FAILURE");
  EXPECT_EQ(TextColor(ui().SystemStatPanel), StatusRed);
}

TEST_F(StatusCycleTest, BeforeTheWindowIsUpARepliesOnlyUpdatesTheReadings) {
  reading.state = 85;
  reading.tenths[0] = -255;
  form = std::make_unique<TForm1>(fakes.services());  // not shown
  Poll();
  EXPECT_EQ(SensorTable[1].Temperature, -25);
  EXPECT_EQ(ui().SystemStatPanel->text(), "Initializing");
  EXPECT_TRUE(DrainQueue().isEmpty());
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

TEST_F(StatusCycleTest, OtherRepliesFillTheirBlocksAndTheHoursPanel) {
  Start();
  packet::Payload p{};
  p[1] = 'C';
  p[2] = 0x7F;
  p[17] = 0x2C;
  p[18] = 0x01;
  fakes.link.respond = [&](const Bytes&) { return FakeLink::Answer{28, MakeReplyFrame(0x02, p)}; };
  form->ExchangePacket(packet::MakeReadRequest(0x02));
  EXPECT_EQ(ui().OperHours->text(), "300");
  EXPECT_EQ(Device.Settings.Bytes[2], 0x02);

  packet::Payload fan{};
  fan[2] = 0x4C; fan[3] = 0x04; fan[4] = 0x78; fan[5] = 0x05; fan[6] = 0xB6; fan[7] = 0xFE;
  fakes.link.respond = [&](const Bytes&) { return FakeLink::Answer{28, MakeReplyFrame(0x03, fan)}; };
  form->ExchangePacket(packet::MakeReadRequest(0x03));
  EXPECT_EQ(Device.FanBoot.Words[3], -330);
  EXPECT_EQ(Device.FanBoot.Words[8], 1100);
  EXPECT_EQ(Device.FanBoot.Words[9], 1400);

  // A write answered by a status reply is decoded as a status reply.
  reading.tenths[0] = -123;
  fakes.link.respond = [&](const Bytes&) {
    return FakeLink::Answer{28, MakeReplyFrame(0x01, StatusPayload(reading))};
  };
  form->SendUnitSettings();
  EXPECT_EQ(SensorTable[1].Temperature, -12);
}

TEST_F(StatusCycleTest, SwitchingTheUnitConvertsTheLimitsSavesAtOnceAndSendsTheLetter) {
  Start();
  // The unit has reported its settings block (so packet 02 may be sent).
  Device.Settings.SetOperatingHours(1250);
  Device.Settings.SetUnitLetter('C');
  EXPECT_EQ(ui().Sensor1Alm->value(), -10);
  EXPECT_EQ(ui().Sensor1ShDn->value(), 0);

  ui().FahrenheitRadioButton->click();
  EXPECT_FALSE(CelsiusFlag);
  EXPECT_EQ(ui().Sensor1Alm->value(), 14);
  EXPECT_EQ(ui().Sensor1ShDn->value(), 32);
  EXPECT_EQ(SensorTable[1].WarningLimit, 14);
  EXPECT_EQ(ui().Sensor2Alm->value(), 41);
  {
    const SettingsKey key(fakes.settingsPath(), SettingsKey::Open::Existing);
    ASSERT_TRUE(key.IsOpen());
    EXPECT_FALSE(key.ReadBool("FahrenCel"));
  }
  EXPECT_TRUE(form->PendingUnitSettings);

  fakes.link.requests.clear();
  form->WriteChangesTimerTimer();
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
  form->ClearPendingFlags();
  ui().FahrenheitRadioButton->click();
  EXPECT_EQ(ui().Sensor1Alm->value(), 14);
  EXPECT_FALSE(form->PendingUnitSettings);

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

  form.reset();
  ResetDeviceData();
  Start();
  packet::Payload p{};
  p[17] = 0x2C;
  p[18] = 0x01;
  Device.Settings.Bytes = p;
  ui().OperHours->setText("301");  // one hour counted since the report
  fakes.link.requests.clear();
  form->close();
  const auto writes = fakes.link.RequestsNumbered(0x02);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0][3 + 17] | (writes[0][3 + 18] << 8), 301);
  EXPECT_EQ(fakes.link.requests.front()[1], 0x02);  // before the display is blanked
}

}  // namespace
