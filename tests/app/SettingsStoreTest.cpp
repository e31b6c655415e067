// SPDX-License-Identifier: GPL-3.0-or-later
// Settings through the window: first-run defaults, a configuration surviving a
// restart and the deferred-write tick (the store alone: tests/config; damaged
// files: tests/reliability).

#include "WindowFixture.h"
#include "config/SettingsKey.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QRadioButton>
#include <QSpinBox>

namespace {

class SettingsStoreTest : public WindowFixture {
 protected:
  SettingsKey Saved() const { return SettingsKey(fakes.settingsPath(), SettingsKey::Open::Existing); }
  void Store(const QString& name, const QString& text) {
    SettingsKey(fakes.settingsPath(), SettingsKey::Open::CreateIfMissing).WriteString(name, text);
  }
};

TEST_F(SettingsStoreTest, FirstRunUsesTheBuiltInDefaultsAndWritesNothing) {
  Start();
  EXPECT_EQ(ui().Sensor1Alm->value(), -10);
  EXPECT_EQ(ui().Sensor1ShDn->value(), 0);
  const struct {
    QComboBox *name, *higherLower;
    QSpinBox *warning, *shutdown;
  } sensors[] = {{ui().SetupSensorComboBox2, ui().Par2HighLow, ui().Sensor2Alm, ui().Sensor2ShDn},
                 {ui().SetupSensorComboBox3, ui().Par3HighLow, ui().Sensor3Alm, ui().Sensor3ShDn},
                 {ui().SetupSensorComboBox4, ui().Par4HighLow, ui().Sensor4Alm, ui().Sensor4ShDn},
                 {ui().SetupSensorComboBox5, ui().Par5HighLow, ui().Sensor5Alm, ui().Sensor5ShDn}};
  for (const auto& s : sensors) {
    EXPECT_EQ(s.name->currentText(), "Optional");
    EXPECT_EQ(s.higherLower->currentText(), "Lower");
    EXPECT_EQ(s.warning->value(), 5);
    EXPECT_EQ(s.shutdown->value(), 0);
  }
  const std::pair<QComboBox*, QString> texts[] = {
      {ui().DispParam1, "CPU Speed"},        {ui().DispParam2, "CPU Load"},
      {ui().DispParam3, "Evaporator temp."}, {ui().PrimaryTextComboBox, "Speed Load Temp"},
      {ui().SecondaryTextComboBox, "Quelmark"}, {ui().DispLine1Int, "5 Sec"},
      {ui().BootTempComboBox, "-33"}};
  for (const auto& [box, text] : texts) EXPECT_EQ(box->currentText(), text);
  EXPECT_TRUE(ui().CelsiusRadioButton->isChecked());
  EXPECT_EQ(ui().WarningHandlingComboBox->currentIndex(), 0);
  EXPECT_TRUE(ui().NotificationsCheckBox->isChecked());
  EXPECT_EQ(SensorTable[1].Name, "Evaporator");
  EXPECT_TRUE(SensorTable[1].Higher);
  EXPECT_EQ(SensorTable[1].WarningLimit, -10);
  EXPECT_EQ(SensorTable[2].WarningLimit, 5);

  // Nothing of the start-up state is pending, and no file was created.
  EXPECT_FALSE(form->Settings().Pending.Any());
  form->Settings().WriteChangesTimerTimer();
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
  form->Settings().Pending.Raise(PendingDisplayParams);  // the display handlers arrive with the display
  ui().BootTempComboBox->setCurrentIndex(20);
  ui().NotificationsCheckBox->click();   // saved at once
  form->Settings().WriteChangesTimerTimer();
  // The unit and the converted limits are saved at once: the program ends
  // before another write tick.
  ui().FahrenheitRadioButton->click();
  form->close();
  EXPECT_TRUE(fakes.boxes.shown.isEmpty()) << fakes.boxes.shown.join('|').toStdString();

  Start();
  EXPECT_EQ(ui().SetupSensorComboBox2->currentText(), "Ambient");
  EXPECT_EQ(SensorTable[2].Name, "Ambient");
  EXPECT_EQ(ui().Par2HighLow->currentText(), "Higher");
  EXPECT_TRUE(SensorTable[2].Higher);
  EXPECT_TRUE(ui().Sensor2Alm->isEnabled());
  EXPECT_TRUE(ui().FahrenheitRadioButton->isChecked());
  EXPECT_FALSE(CelsiusFlag);
  EXPECT_EQ(ui().Sensor2Alm->value(), 86);    // 30 C
  EXPECT_EQ(ui().Sensor2ShDn->value(), 104);  // 40 C
  EXPECT_EQ(ui().Sensor1Alm->value(), -4);    // -20 C
  EXPECT_EQ(SensorTable[2].WarningLimit, 86);
  EXPECT_EQ(ui().DispParam3->currentIndex(), 1);
  EXPECT_EQ(ui().BootTempComboBox->currentText(), "-20");
  EXPECT_FALSE(ui().NotificationsCheckBox->isChecked());
  EXPECT_EQ(Saved().ReadInteger("Notifications"), 0);
}

TEST_F(SettingsStoreTest, OptionalDoesNotOverwriteAStoredNameAndNAIsNeverSaved) {
  Store("Sensor3", "Compressor");
  Store("Sensor4", "N/A");
  Start();
  EXPECT_EQ(ui().SetupSensorComboBox3->currentText(), "Compressor");
  EXPECT_TRUE(ui().Par3HighLow->isEnabled());
  EXPECT_FALSE(ui().Par4HighLow->isEnabled());  // a stored "N/A" loads as not configured

  ui().SetupSensorComboBox3->setCurrentIndex(0);  // "Optional"
  EXPECT_FALSE(ui().Par3HighLow->isEnabled());
  EXPECT_FALSE(ui().Sensor3Alm->isEnabled());
  form->Settings().WriteChangesTimerTimer();
  EXPECT_EQ(Saved().ReadString("Sensor3"), "Compressor");
}

TEST_F(SettingsStoreTest, BootTemperatureIsSavedAndSentInTenthsOfADegree) {
  Start();
  for (const auto& [index, tenths] : {std::pair{0, 0}, {33, -330}}) {
    fakes.link.requests.clear();
    ui().BootTempComboBox->setCurrentIndex(index);
    form->Settings().WriteChangesTimerTimer();
    EXPECT_EQ(Saved().ReadInteger("BootIndex"), index);
    const auto sent = fakes.link.RequestsNumbered(0x03);
    ASSERT_EQ(sent.size(), 1u) << index;
    EXPECT_EQ(static_cast<std::int16_t>(sent[0][3 + 6] | (sent[0][3 + 7] << 8)), tenths);
  }
}

}  // namespace
