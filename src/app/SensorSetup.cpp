// SPDX-License-Identifier: GPL-3.0-or-later
// Sensor names, higher/lower choices and limits on the Setup tab, and the two
// choices saved at once (warning handling, desktop notifications).

#include "app/TForm1.h"
#include "config/SettingsValues.h"
#include "core/Guard.h"
#include "monitor/DeviceData.h"
#include "widgets/Palette.h"

#include "ui_TForm1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QRadioButton>
#include <QSpinBox>

#include <exception>

void TForm1::ConnectSettingHandlers() {
  using Handler = void (TForm1::*)();
  const Handler nameHandlers[] = {&TForm1::SetupSensorComboBox2Change, &TForm1::SetupSensorComboBox3Change,
                                  &TForm1::SetupSensorComboBox4Change, &TForm1::SetupSensorComboBox5Change};
  const Handler higherLowerHandlers[] = {&TForm1::Par2HighLowChange, &TForm1::Par3HighLowChange,
                                         &TForm1::Par4HighLowChange, &TForm1::Par5HighLowChange};
  for (int n = 2; n <= 5; ++n) {
    const SensorControls row = Row(n);
    // An editable list reports both a picked item and typed text here.
    connect(row.name, &QComboBox::editTextChanged, this, nameHandlers[n - 2]);
    connect(row.higherLower, &QComboBox::currentIndexChanged, this, higherLowerHandlers[n - 2]);
  }
  for (int n = 1; n <= 5; ++n) {
    const SensorControls row = Row(n);
    connect(row.warning, &QSpinBox::valueChanged, this, [this, n] { SensorAlmChange(n); });
    connect(row.shutdown, &QSpinBox::valueChanged, this, [this, n] { SensorShDnChange(n); });
  }
  connect(ui_->CelsiusRadioButton, &QRadioButton::clicked, this, &TForm1::CelsiusRadioButtonClick);
  connect(ui_->FahrenheitRadioButton, &QRadioButton::clicked, this, &TForm1::FahrenheitRadioButtonClick);
  connect(ui_->IconShowComboBox, &QComboBox::currentIndexChanged, this, &TForm1::IconShowComboBoxChange);
  connect(ui_->WarningHandlingComboBox, &QComboBox::currentIndexChanged, this,
          &TForm1::WarningHandlingComboBoxChange);
  connect(ui_->NotificationsCheckBox, &QCheckBox::clicked, this, &TForm1::NotificationsCheckBoxClick);
  connect(ui_->BootTempComboBox, &QComboBox::currentIndexChanged, this, &TForm1::BootTempComboBoxChange);
}

void TForm1::SetupSensorComboBoxChange(int sensor) {
  Guarded(report_, [&] {
    const SensorControls row = Row(sensor);
    const QString text = row.name->currentText();
    row.showName->setText(text);
    SensorTable[sensor].Name = text;
    // Sensor 2's row follows its name at the next status reply; the others at once.
    if (sensor >= 3) {
      const bool optional = text == row.name->itemText(0);
      SetRowUsable(sensor, !optional);
      for (QLabel* panel : {row.showName, row.value, row.state}) panel->setVisible(!optional);
    }
    settings_->Pending.Raise(PendingSensorNames);
  });
}

void TForm1::SensorAlmChange(int sensor) {
  QSpinBox* field = Row(sensor).warning;
  if (field->cleanText().isEmpty()) return;
  SensorTable[sensor].WarningLimit = field->value();
  settings_->Pending.Raise(PendingWarningLimits);
}

void TForm1::SensorShDnChange(int sensor) {
  QSpinBox* field = Row(sensor).shutdown;
  if (field->cleanText().isEmpty()) return;
  SensorTable[sensor].ShutdownLimit = field->value();
  settings_->Pending.Raise(PendingShutdownLimits);
}

void TForm1::NotificationsCheckBoxClick() {
  settings_->SaveNotifications(ui_->NotificationsCheckBox->isChecked());
}

void TForm1::WarningHandlingComboBoxChange() {
  settings_->SaveWarningHandling(ui_->WarningHandlingComboBox->currentIndex());
}
