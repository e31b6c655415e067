// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's settings: built-in defaults, the three load groups at
// start, and the 4 s deferred-write tick that carries changes to the settings
// file and to the unit.

#include "app/TForm1.h"
#include "core/Guard.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "monitor/DeviceData.h"
#include "widgets/InputLimits.h"
#include "widgets/Palette.h"

#include "ui_TForm1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QSpinBox>

#include <exception>

namespace {

// Selects an item without running the list's change handler; a stored index
// outside the list leaves the list without a selection.
void SelectStoredItem(QComboBox* box, int index) {
  QSignalBlocker block(box);
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

}  // namespace

void TForm1::ClearPendingFlags() {
  Pending.LowerAll();
}

void TForm1::ResetSettingsToDefaults() {
  for (int n = 2; n <= 5; ++n) SelectStoredItem(Row(n).higherLower, 1);  // "Lower"
  // Limit fields go through their change handlers, so the records follow.
  ui_->Sensor1Alm->setValue(settings::kDefaultEvaporatorWarn);
  for (int n = 2; n <= 5; ++n) Row(n).warning->setValue(settings::kDefaultSensorWarn);
  for (int n = 1; n <= 5; ++n) Row(n).shutdown->setValue(settings::kDefaultShutdown);
  SelectStoredItem(ui_->IconShowComboBox, 0);
  SelectStoredItem(ui_->WarningHandlingComboBox, settings::kDefaultWarningHandling);
  {
    QSignalBlocker block(ui_->NotificationsCheckBox);
    ui_->NotificationsCheckBox->setChecked(settings::kDefaultNotifications);
  }
  SelectStoredItem(ui_->BootTempComboBox, settings::kDefaultBootIndex);

  Pending.RaiseAll();
  services_.clock->ProcessPendingEvents();
}

void TForm1::LoadSensorSettings() {
  try {
    const SettingsKey key(services_.settingsPath, SettingsKey::Open::Existing);
    auto stored = [&key](const QString& name, std::int32_t fallback) {
      return key.IsOpen() && key.ValueExists(name) ? key.ReadInteger(name) : fallback;
    };

    SensorRecord& evaporator = SensorTable[1];
    evaporator.Number = 1;
    evaporator.Name = QStringLiteral("Evaporator");
    evaporator.Temperature = 0;
    evaporator.Higher = true;
    evaporator.WarningLimit = ui_->Sensor1Alm->value();
    evaporator.ShutdownLimit = ui_->Sensor1ShDn->value();
    evaporator.WarningLimit = stored(settings::SensorWarnValue(1), evaporator.WarningLimit);
    evaporator.ShutdownLimit = stored(settings::SensorShutdownValue(1), evaporator.ShutdownLimit);

    for (int n = 2; n <= 5; ++n) {
      SensorRecord& r = SensorTable[n];
      const SensorControls row = Row(n);
      r.Number = n;
      const QString nameValue = settings::SensorNameValue(n);
      r.Name = key.IsOpen() && key.ValueExists(nameValue) ? key.ReadString(nameValue) : QString();
      r.Temperature = 0;
      r.WarningLimit = stored(settings::SensorWarnValue(n), row.warning->value());
      r.ShutdownLimit = stored(settings::SensorShutdownValue(n), row.shutdown->value());
      const QString hl = settings::SensorHigherLowerValue(n);
      if (key.IsOpen() && key.ValueExists(hl)) r.Higher = key.ReadBool(hl);
    }

    for (int n = 2; n <= 5; ++n) {
      const SensorRecord& r = SensorTable[n];
      if (IsUnfittedSensorName(r.Name)) continue;
      const SensorControls row = Row(n);
      QSignalBlocker block(row.name);
      row.name->setEditText(r.Name);
      SetRowUsable(n, true);
    }
    for (int n = 2; n <= 5; ++n) SelectStoredItem(Row(n).higherLower, SensorTable[n].Higher ? 0 : 1);
    for (int n = 1; n <= 5; ++n) {
      const SensorControls row = Row(n);
      QSignalBlocker blockWarning(row.warning);
      QSignalBlocker blockShutdown(row.shutdown);
      row.warning->setValue(SensorTable[n].WarningLimit);
      row.shutdown->setValue(SensorTable[n].ShutdownLimit);
    }
  } catch (const std::exception& e) {
    report_(ErrorReportText(e));
  }
  // Typing accepts digits only; negative limits come from the down button.
  for (int n = 1; n <= 5; ++n) {
    MakeDigitsOnly(Row(n).warning);
    MakeDigitsOnly(Row(n).shutdown);
  }
}

void TForm1::LoadDisplaySettings() {
  Guarded(report_, [&] {
    const SettingsKey key(services_.settingsPath, SettingsKey::Open::Existing);
    if (!key.IsOpen()) return;
    QComboBox* params[] = {ui_->DispParam1, ui_->DispParam2, ui_->DispParam3};
    for (int i = 0; i < 3; ++i) {
      const QString name = settings::DisplayParamValue(i + 1);
      if (key.ValueExists(name)) SelectStoredItem(params[i], key.ReadInteger(name));
    }
    if (key.ValueExists(settings::kDisplayLine1Primary)) {
      QSignalBlocker block(ui_->PrimaryTextComboBox);
      ui_->PrimaryTextComboBox->setEditText(key.ReadString(settings::kDisplayLine1Primary));
    }
    if (key.ValueExists(settings::kDisplayLine1Secondary)) {
      QSignalBlocker block(ui_->SecondaryTextComboBox);
      ui_->SecondaryTextComboBox->setEditText(key.ReadString(settings::kDisplayLine1Secondary));
    }
    if (key.ValueExists(settings::kBootIndex))
      SelectStoredItem(ui_->BootTempComboBox, key.ReadInteger(settings::kBootIndex));
    if (key.ValueExists(settings::kWarningHandlingIndex))
      SelectStoredItem(ui_->WarningHandlingComboBox, key.ReadInteger(settings::kWarningHandlingIndex));
    if (key.ValueExists(settings::kNotifications)) {
      QSignalBlocker block(ui_->NotificationsCheckBox);
      ui_->NotificationsCheckBox->setChecked(key.ReadBool(settings::kNotifications));
    }
  });
}

void TForm1::LoadUnitSettings() {
  Guarded(report_, [&] {
    const SettingsKey key(services_.settingsPath, SettingsKey::Open::Existing);
    if (key.IsOpen() && key.ValueExists(settings::kFahrenCel))
      CelsiusFlag = key.ReadBool(settings::kFahrenCel);
    if (CelsiusFlag) {
      ui_->CelsiusRadioButton->setChecked(true);
    } else {
      ui_->FahrenheitRadioButton->setChecked(true);
      // Stores the unit letter; nothing is saved or sent, the flag being false already.
      FahrenheitRadioButtonClick();
    }
    if (key.IsOpen() && key.ValueExists(settings::kDisplayUpdateInterval))
      SelectStoredItem(ui_->DispLine1Int, key.ReadInteger(settings::kDisplayUpdateInterval));
  });
  // Even when a damaged value ended the group early, line 1 alternates at the
  // interval the list shows rather than at the start-up placeholder of hours.
  const int item = ui_->DispLine1Int->currentIndex();
  if (settings::HasDisplayInterval(item))
    watch_->Panel().DisplayIntervalTimer.setInterval(settings::DisplayIntervalMs(item));
}

// ---------------------------------------------------------------------------
// Deferred writes

void TForm1::WriteChangesTimerTimer() {
  if (!watch_->UpdateDataTimer.isActive()) {
    // With the data poll stopped the unit is not being talked to: changes for
    // the unit and the limits are dropped, the rest waits for the poll.
    Pending.Lower({PendingSensorNames, PendingUnitSettings, PendingWarningLimits, PendingShutdownLimits,
                   PendingBootTemperature});
    return;
  }
  Service(PendingFanBlock, [this] { SendFanBootBlock(); });
  Service(PendingLine1Text, [this] { watch_->Panel().SendLine1Text(ui_->PrimaryTextComboBox->currentText()); });
  Service(PendingDisplayParams, [this] { SaveDisplayParams(); });
  Service(PendingUnitSettings, [this] { SendUnitSettings(); });
  Service(PendingHigherLower, [this] { SaveHigherLower(); });
  Service(PendingSensorNames, [this] { SaveSensorNames(); });
  Service(PendingWarningLimits, [this] { SaveWarningLimits(); });
  Service(PendingShutdownLimits, [this] { SaveShutdownLimits(); });
  Service(PendingBootTemperature, [this] { SaveBootTemperature(); });
}

void TForm1::SaveDisplayParams() {
  Guarded(report_, [&] {
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    QComboBox* params[] = {ui_->DispParam1, ui_->DispParam2, ui_->DispParam3};
    for (int i = 0; i < 3; ++i)
      key.WriteInteger(settings::DisplayParamValue(i + 1), params[i]->currentIndex());
  });
}

void TForm1::SaveHigherLower() {
  Guarded(report_, [&] {
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    for (int n = 2; n <= 5; ++n) {
      SensorTable[n].Higher = Row(n).higherLower->currentIndex() == 0;
      key.WriteBool(settings::SensorHigherLowerValue(n), SensorTable[n].Higher);
    }
  });
}

void TForm1::SaveSensorNames() {
  Guarded(report_, [&] {
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    for (int n = 2; n <= 5; ++n) {
      // A sensor the unit reports no reading for keeps "N/A" for this run.
      if (SensorTable[n].Name == kSensorNotAvailable) continue;
      SensorTable[n].Name = Row(n).name->currentText();
      // "Optional" does not overwrite a stored name: the next start finds it again.
      if (!IsUnfittedSensorName(SensorTable[n].Name))
        key.WriteString(settings::SensorNameValue(n), SensorTable[n].Name);
    }
  });
}

void TForm1::SaveWarningLimits() {
  Guarded(report_, [&] {
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    for (int n = 1; n <= 5; ++n) {
      SensorTable[n].WarningLimit = Row(n).warning->value();
      key.WriteInteger(settings::SensorWarnValue(n), SensorTable[n].WarningLimit);
    }
  });
}

void TForm1::SaveShutdownLimits() {
  Guarded(report_, [&] {
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    for (int n = 1; n <= 5; ++n) {
      SensorTable[n].ShutdownLimit = Row(n).shutdown->value();
      key.WriteInteger(settings::SensorShutdownValue(n), SensorTable[n].ShutdownLimit);
    }
  });
}

void TForm1::SaveBootTemperature() {
  Guarded(report_, [&] {
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteInteger(settings::kBootIndex, ui_->BootTempComboBox->currentIndex());
    bool ok = false;
    const int celsius = ui_->BootTempComboBox->currentText().toInt(&ok);
    if (!ok) {
      throw std::runtime_error(
          QStringLiteral("'%1' is not a valid integer value").arg(ui_->BootTempComboBox->currentText())
              .toStdString());
    }
    Device.FanBoot.Words[FanBootBlock::kBootTenths] = celsius * 10;
    SendFanBootBlock();
  });
}
