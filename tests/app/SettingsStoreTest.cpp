// Settings through the window: first-run defaults, a configuration surviving a
// restart, damaged and unwritable files, and the deferred-write tick.

#include "app/TForm1.h"
#include "config/SettingsKey.h"
#include "monitor/DeviceData.h"
#include "support/FakeServices.h"
#include "ui_TForm1.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QSpinBox>

#include <gtest/gtest.h>

namespace {

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetDeviceData(); }
  void Start() {
    form.reset();
    ResetDeviceData();
    fakes.boxes.shown.clear();
    form = std::make_unique<TForm1>(fakes.services());
    form->show();
  }
  Ui::TForm1& ui() { return form->ui(); }
  SettingsKey Saved() const { return SettingsKey(fakes.settingsPath(), SettingsKey::Open::Existing); }

  FakeServices fakes;
  std::unique_ptr<TForm1> form;
};

TEST_F(SettingsStoreTest, FirstRunUsesTheBuiltInDefaultsAndWritesNothing) {
  Start();
  EXPECT_EQ(ui().Sensor1Alm->value(), -10);
  EXPECT_EQ(ui().Sensor1ShDn->value(), 0);
  QComboBox* names[] = {ui().SetupSensorComboBox2, ui().SetupSensorComboBox3,
                        ui().SetupSensorComboBox4, ui().SetupSensorComboBox5};
  QComboBox* hl[] = {ui().Par2HighLow, ui().Par3HighLow, ui().Par4HighLow, ui().Par5HighLow};
  QSpinBox* warn[] = {ui().Sensor2Alm, ui().Sensor3Alm, ui().Sensor4Alm, ui().Sensor5Alm};
  QSpinBox* sdn[] = {ui().Sensor2ShDn, ui().Sensor3ShDn, ui().Sensor4ShDn, ui().Sensor5ShDn};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(names[i]->currentText(), "Optional");
    EXPECT_EQ(hl[i]->currentText(), "Lower");
    EXPECT_EQ(warn[i]->value(), 5);
    EXPECT_EQ(sdn[i]->value(), 0);
  }
  EXPECT_EQ(ui().DispParam1->currentText(), "CPU Speed");
  EXPECT_EQ(ui().DispParam2->currentText(), "CPU Load");
  EXPECT_EQ(ui().DispParam3->currentText(), "Evaporator temp.");
  EXPECT_EQ(ui().PrimaryTextComboBox->currentText(), "Speed Load Temp");
  EXPECT_EQ(ui().SecondaryTextComboBox->currentText(), "Quelmark");
  EXPECT_EQ(ui().DispLine1Int->currentText(), "5 Sec");
  EXPECT_EQ(form->DisplayIntervalTimer.interval(), 5000);
  EXPECT_EQ(ui().BootTempComboBox->currentText(), "-33");
  EXPECT_TRUE(ui().CelsiusRadioButton->isChecked());
  EXPECT_EQ(ui().WarningHandlingComboBox->currentIndex(), 0);
  EXPECT_EQ(SensorTable[1].Name, "Evaporator");
  EXPECT_TRUE(SensorTable[1].Higher);
  EXPECT_EQ(SensorTable[1].WarningLimit, -10);
  EXPECT_EQ(SensorTable[2].WarningLimit, 5);

  // Nothing of the start-up state is pending, and no file was created.
  for (bool f : {form->PendingFanBlock, form->PendingLine1Text, form->PendingDisplayParams,
                 form->PendingHigherLower, form->PendingSensorNames, form->PendingUnitSettings,
                 form->PendingWarningLimits, form->PendingShutdownLimits,
                 form->PendingBootTemperature})
    EXPECT_FALSE(f);
  form->WriteChangesTimerTimer();
  EXPECT_FALSE(QFile::exists(fakes.settingsPath()));
  EXPECT_TRUE(fakes.boxes.shown.isEmpty());
}

TEST_F(SettingsStoreTest, AChangedConfigurationComesBackAtTheNextStart) {
  Start();
  ui().SetupSensorComboBox2->setEditText("Ambient");
  ui().Par2HighLow->setCurrentIndex(0);  // "Higher", in the same period as the name
  ui().Sensor2Alm->setValue(30);
  ui().Sensor2ShDn->setValue(40);
  ui().Sensor1Alm->setValue(-20);
  ui().DispParam3->setCurrentIndex(1);
  form->PendingDisplayParams = true;  // the display handlers arrive with the display
  ui().BootTempComboBox->setCurrentIndex(20);
  ui().FahrenheitRadioButton->click();  // saved at once, limits converted
  form->WriteChangesTimerTimer();
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();

  Start();
  EXPECT_EQ(ui().SetupSensorComboBox2->currentText(), "Ambient");
  EXPECT_EQ(SensorTable[2].Name, "Ambient");
  EXPECT_EQ(ui().Par2HighLow->currentText(), "Higher");
  EXPECT_TRUE(SensorTable[2].Higher);
  EXPECT_TRUE(ui().Sensor2Alm->isEnabled());
  EXPECT_TRUE(ui().FahrenheitRadioButton->isChecked());
  EXPECT_FALSE(CelsiusFlag);
  EXPECT_EQ(ui().Sensor2Alm->value(), 86);   // 30 C
  EXPECT_EQ(ui().Sensor2ShDn->value(), 104);  // 40 C
  EXPECT_EQ(ui().Sensor1Alm->value(), -4);   // -20 C
  EXPECT_EQ(SensorTable[2].WarningLimit, 86);
  EXPECT_EQ(ui().DispParam3->currentIndex(), 1);
  EXPECT_EQ(ui().BootTempComboBox->currentText(), "-20");
}

TEST_F(SettingsStoreTest, OptionalDoesNotOverwriteAStoredNameAndNAIsNeverSaved) {
  {
    SettingsKey key(fakes.settingsPath(), SettingsKey::Open::CreateIfMissing);
    key.WriteString("Sensor3", "Compressor");
    key.WriteString("Sensor4", "N/A");
  }
  Start();
  EXPECT_EQ(ui().SetupSensorComboBox3->currentText(), "Compressor");
  EXPECT_TRUE(ui().Par3HighLow->isEnabled());
  EXPECT_FALSE(ui().Par4HighLow->isEnabled());  // a stored "N/A" loads as not configured

  ui().SetupSensorComboBox3->setCurrentIndex(0);  // "Optional"
  EXPECT_FALSE(ui().Par3HighLow->isEnabled());
  EXPECT_FALSE(ui().Sensor3Alm->isEnabled());
  form->WriteChangesTimerTimer();
  EXPECT_EQ(Saved().ReadString("Sensor3"), "Compressor");
}

TEST_F(SettingsStoreTest, AValueOfTheWrongTypeEndsOnlyItsOwnGroup) {
  {
    SettingsKey key(fakes.settingsPath(), SettingsKey::Open::CreateIfMissing);
    key.WriteString("Sensor1Warn", "cold");  // text where a number belongs
    key.WriteInteger("Sensor1SDN", 3);
    key.WriteInteger("Param1Index", 2);
    key.WriteInteger("FahrenCel", 0);
  }
  Start();
  EXPECT_EQ(fakes.boxes.shown, QStringList{"Error: Invalid data type for 'Sensor1Warn'"});
  EXPECT_EQ(ui().Sensor1Alm->value(), -10);  // default kept
  EXPECT_EQ(ui().DispParam1->currentIndex(), 2);  // the other groups still load
  EXPECT_TRUE(ui().FahrenheitRadioButton->isChecked());
  EXPECT_TRUE(form->UpdateDataTimer.isActive());
}

TEST_F(SettingsStoreTest, AnUnwritableSettingsFileIsReportedAndTheProgramGoesOn) {
  // The settings "file" sits below a regular file: no folder can be made there,
  // whoever runs the test.
  QFile blocker(fakes.settingsDir.path() + "/blocker");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Services s = fakes.services();
  s.settingsPath = blocker.fileName() + "/tessalinique.conf";
  ResetDeviceData();
  form = std::make_unique<TForm1>(s);
  form->show();
  ui().Sensor2Alm->setValue(12);
  form->WriteChangesTimerTimer();
  ASSERT_FALSE(fakes.boxes.shown.isEmpty());
  EXPECT_EQ(fakes.boxes.shown.front(), "Error: Failed to set data for 'Sensor1Warn'");
  EXPECT_EQ(SensorTable[2].WarningLimit, 12);  // the program keeps the value in use
  fakes.link.requests.clear();
  form->UpdateDataTimerTimer();
  EXPECT_FALSE(fakes.link.requests.empty());
}

TEST_F(SettingsStoreTest, WhileTheDataPollIsStoppedUnitAndLimitChangesAreDropped) {
  Start();
  Device.Settings.SetOperatingHours(100);
  form->UpdateDataTimer.stop();
  ui().Sensor2Alm->setValue(9);
  ui().Par3HighLow->setCurrentIndex(0);
  form->PendingUnitSettings = true;
  form->PendingFanBlock = true;
  fakes.link.requests.clear();
  form->WriteChangesTimerTimer();
  EXPECT_FALSE(form->PendingWarningLimits);
  EXPECT_FALSE(form->PendingUnitSettings);
  EXPECT_TRUE(form->PendingHigherLower);
  EXPECT_TRUE(form->PendingFanBlock);
  EXPECT_TRUE(fakes.link.requests.empty());
  EXPECT_FALSE(QFile::exists(fakes.settingsPath()));

  form->UpdateDataTimer.start();
  form->WriteChangesTimerTimer();
  EXPECT_EQ(fakes.link.RequestsNumbered(0x03).size(), 1u);
  EXPECT_TRUE(fakes.link.RequestsNumbered(0x02).empty());
  EXPECT_TRUE(Saved().ReadBool("Sensor3HL"));
  EXPECT_FALSE(Saved().ValueExists("Sensor2Warn"));
}

TEST_F(SettingsStoreTest, BootTemperatureIsSavedAndSentInTenthsOfADegree) {
  Start();
  fakes.link.requests.clear();
  ui().BootTempComboBox->setCurrentIndex(0);  // "0"
  form->WriteChangesTimerTimer();
  EXPECT_EQ(Saved().ReadInteger("BootIndex"), 0);
  auto sent = fakes.link.RequestsNumbered(0x03);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0][3 + 6] | (sent[0][3 + 7] << 8), 0);

  ui().BootTempComboBox->setCurrentIndex(33);
  form->WriteChangesTimerTimer();
  sent = fakes.link.RequestsNumbered(0x03);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(static_cast<std::int16_t>(sent[1][3 + 6] | (sent[1][3 + 7] << 8)), -330);
}

}  // namespace
