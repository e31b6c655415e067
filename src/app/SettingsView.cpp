// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's side of the settings: the built-in defaults put into the
// controls, and what the start-up loads found shown in them; and the values
// the store saves, read from the controls.

#include "app/TForm1.h"
#include "config/SettingsValues.h"
#include "monitor/DeviceData.h"
#include "widgets/InputLimits.h"

#include "ui_TForm1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QSpinBox>

namespace {

// Selects an item without running the list's change handler; a stored index
// outside the list leaves the list without a selection.
void SelectStoredItem(QComboBox* box, int index) {
  QSignalBlocker block(box);
  box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

void ShowStoredText(QComboBox* box, const QString& text) {
  QSignalBlocker block(box);
  box->setEditText(text);
}

}  // namespace

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

  settings_->Pending.RaiseAll();
  services_.clock->ProcessPendingEvents();
}

void TForm1::ShowSensorSettings() {
  // A damaged value ended the group early: the controls keep the defaults.
  if (settings_->Loaded().sensorsRead) {
    for (int n = 2; n <= 5; ++n) {
      const SensorRecord& r = SensorTable[n];
      if (IsUnfittedSensorName(r.Name)) continue;
      ShowStoredText(Row(n).name, r.Name);
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
  }
  // Typing accepts digits only; negative limits come from the down button.
  for (int n = 1; n <= 5; ++n) {
    MakeDigitsOnly(Row(n).warning);
    MakeDigitsOnly(Row(n).shutdown);
  }
}

void TForm1::ShowDisplaySettings() {
  const LoadedSettings& loaded = settings_->Loaded();
  QComboBox* params[] = {ui_->DispParam1, ui_->DispParam2, ui_->DispParam3};
  for (int i = 0; i < 3; ++i) {
    if (const auto& item = loaded.displayParams[static_cast<std::size_t>(i)]) SelectStoredItem(params[i], *item);
  }
  if (loaded.line1Primary) ShowStoredText(ui_->PrimaryTextComboBox, *loaded.line1Primary);
  if (loaded.line1Secondary) ShowStoredText(ui_->SecondaryTextComboBox, *loaded.line1Secondary);
  if (loaded.bootIndex) SelectStoredItem(ui_->BootTempComboBox, *loaded.bootIndex);
  if (loaded.warningHandling) SelectStoredItem(ui_->WarningHandlingComboBox, *loaded.warningHandling);
  if (loaded.notifications) {
    QSignalBlocker block(ui_->NotificationsCheckBox);
    ui_->NotificationsCheckBox->setChecked(*loaded.notifications);
  }
}

void TForm1::ShowUnitSettings() {
  const LoadedSettings& loaded = settings_->Loaded();
  if (loaded.celsius) {
    if (*loaded.celsius) {
      ui_->CelsiusRadioButton->setChecked(true);
    } else {
      ui_->FahrenheitRadioButton->setChecked(true);
      // Stores the unit letter; nothing is saved or sent, the flag being false already.
      FahrenheitRadioButtonClick();
    }
  }
  if (loaded.displayInterval) SelectStoredItem(ui_->DispLine1Int, *loaded.displayInterval);
  // Even when a damaged value ended the group early, line 1 alternates at the
  // interval the list shows rather than at the start-up placeholder of hours.
  const int item = ui_->DispLine1Int->currentIndex();
  if (settings::HasDisplayInterval(item))
    watch_->Panel().DisplayIntervalTimer.setInterval(settings::DisplayIntervalMs(item));
}

// ---------------------------------------------------------------------------
// What the settings store reaches in the window

bool TForm1::PollRunning() const { return watch_->UpdateDataTimer.isActive(); }

int TForm1::HigherLowerChoice(int sensor) const { return Row(sensor).higherLower->currentIndex(); }

QString TForm1::SensorNameText(int sensor) const { return Row(sensor).name->currentText(); }

int TForm1::WarningLimitValue(int sensor) const { return Row(sensor).warning->value(); }

int TForm1::ShutdownLimitValue(int sensor) const { return Row(sensor).shutdown->value(); }

int TForm1::BootTempChoice() const { return ui_->BootTempComboBox->currentIndex(); }

QString TForm1::BootTempText() const { return ui_->BootTempComboBox->currentText(); }
