// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of the status cycle: the System tab's panels and the
// Setup tab's sensor rows show the records and the model after every status
// reply; the temperature unit and the tray hint choice.

#include "app/TForm1.h"
#include "core/Guard.h"
#include "config/SettingsValues.h"
#include "host/CPUThread.h"
#include "host/TrayHint.h"
#include "monitor/Conversions.h"
#include "monitor/DeviceData.h"
#include "monitor/UnitStates.h"
#include "widgets/Palette.h"
#include "widgets/TTrayIcon.h"

#include "ui_TForm1.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

#include <exception>

namespace {

const QString kNormal = QStringLiteral("Normal");
}  // namespace

TForm1::SensorControls TForm1::Row(int sensor) const {
  Ui::TForm1& u = *ui_;
  switch (sensor) {
    case 1: return {nullptr, nullptr, u.Sensor1Alm, u.Sensor1ShDn, u.ShowSensor1, u.Temp1, u.TempStat1};
    case 2: return {u.SetupSensorComboBox2, u.Par2HighLow, u.Sensor2Alm, u.Sensor2ShDn, u.ShowSensor2, u.Temp2, u.TempStat2};
    case 3: return {u.SetupSensorComboBox3, u.Par3HighLow, u.Sensor3Alm, u.Sensor3ShDn, u.ShowSensor3, u.Temp3, u.TempStat3};
    case 4: return {u.SetupSensorComboBox4, u.Par4HighLow, u.Sensor4Alm, u.Sensor4ShDn, u.ShowSensor4, u.Temp4, u.TempStat4};
    case 5: return {u.SetupSensorComboBox5, u.Par5HighLow, u.Sensor5Alm, u.Sensor5ShDn, u.ShowSensor5, u.Temp5, u.TempStat5};
    default: return {};
  }
}

bool TForm1::MainWindowCountsAsVisible() const {
  // Minimised into the notification area the window is hidden, yet still the
  // program's open window.
  return isVisible() || (trayIcon1_ && trayIcon1_->WindowInTray());
}

// ---------------------------------------------------------------------------
// The model's panels

void TForm1::ShowStatusPanel() { ShowPanelState(ui_->SystemStatPanel, watch_->Model().status); }

void TForm1::ShowSensorStates() {
  for (int n = 1; n <= 5; ++n) ShowPanelState(Row(n).state, watch_->Model().SensorState(n));
}

void TForm1::ShowOperatingHours() { ui_->OperHours->setText(QString::number(watch_->Model().operatingHours)); }

// ---------------------------------------------------------------------------
// What the status cycle shows in the window

// Until the window is up, a reply only updates the readings.
bool TForm1::CycleWanted() const { return formReady_ && MainWindowCountsAsVisible(); }

void TForm1::StopTrayBlink() {
  if (trayIcon1_) trayIcon1_->SetAnimate(false);
}


// ---------------------------------------------------------------------------
// Status cycle

void TForm1::SetRowUsable(int sensor, bool usable) {
  const SensorControls row = Row(sensor);
  const QColor colour = usable ? SystemWindowColor() : SystemScrollBarColor();
  for (QWidget* w : std::initializer_list<QWidget*>{row.higherLower, row.warning, row.shutdown}) {
    w->setEnabled(usable);
    SetEditColor(w, colour);
  }
}

void TForm1::RefreshSetupRows() {
  for (int n = 2; n <= 5; ++n) {
    const SensorControls row = Row(n);
    const QString& name = SensorTable[n].Name;
    if (name == kSensorNotAvailable) {
      // Set once: every reply comes here, and setting even the same text
      // again costs the edit field a relayout and an accessibility update.
      if (row.name->currentText() != kSensorNotAvailable) {
        QSignalBlocker block(row.name);
        row.name->setEditText(kSensorNotAvailable);
      }
      SetEditColor(row.name, SystemScrollBarColor());
      row.name->setEnabled(false);
      SetRowUsable(n, false);
      continue;
    }
    if (!name.isEmpty() && row.name->currentText() != name) {
      QSignalBlocker block(row.name);
      row.name->setEditText(name);
    }
    SetEditColor(row.name, SystemWindowColor());
    row.name->setEnabled(true);
    SetRowUsable(n, row.name->currentText() != kSensorOptional);
  }
}

void TForm1::ShowTemperatures() {
  Guarded(report_, [&] {
    const bool celsius = CelsiusFlag;
    ui_->ShowSensor1->setText(QStringLiteral("Evaporator"));
    ui_->Temp1->setText(TemperatureText(SensorTable[1].Temperature, celsius));
    for (int n = 2; n <= 5; ++n) {
      const SensorControls row = Row(n);
      const QString& name = SensorTable[n].Name;
      const bool shown = !IsUnfittedSensorName(name);
      for (QLabel* panel : {row.showName, row.value, row.state}) {
        panel->setVisible(shown);
        if (!shown) panel->clear();
      }
      if (shown) {
        row.showName->setText(name);
        row.value->setText(TemperatureText(SensorTable[n].Temperature, celsius));
      }
    }
  });
}

void TForm1::ShowFans() {
  Guarded(report_, [&] {
    struct Fan {
      std::uint32_t rpm;
      QLabel* speed;
      QLabel* status;
      QComboBox* mode;
    };
    const Fan fans[] = {
        {Device.Status.FrontFanRpm, ui_->FanRPM1, ui_->Fan1StatusLabel, ui_->FrontFanModeComboBox},
        {Device.Status.RearFanRpm, ui_->FanRPM2, ui_->Fan2StatusLabel, ui_->RearFanModeComboBox},
    };
    for (const Fan& fan : fans) {
      if (fan.rpm >= 10000) continue;  // a reading no fan can give
      if (fan.rpm == 0) {
        fan.speed->setText(QStringLiteral("0 RPM"));
        fan.status->setText(QStringLiteral("Stopped"));
        SetTextColor(fan.status, StatusRed);
      } else {
        fan.speed->setText(QString::number(fan.rpm) + QStringLiteral(" RPM"));
        fan.status->setText(fan.mode->currentText());
        SetTextColor(fan.status, StatusGreen);
      }
    }
  });
}

// ---------------------------------------------------------------------------
// Temperature unit

void TForm1::FahrenheitRadioButtonClick() {
  const bool before = CelsiusFlag;
  const bool celsius = !ui_->FahrenheitRadioButton->isChecked();
  CelsiusFlag = celsius;
  Device.Settings.SetUnitLetter(celsius ? 'C' : 'F');
  if (celsius != before) ApplyTemperatureUnit();
}

void TForm1::CelsiusRadioButtonClick() {
  const bool before = CelsiusFlag;
  const bool celsius = ui_->CelsiusRadioButton->isChecked();
  CelsiusFlag = celsius;
  Device.Settings.SetUnitLetter(celsius ? 'C' : 'F');
  if (celsius != before) ApplyTemperatureUnit();
}

void TForm1::ApplyTemperatureUnit() {
  Guarded(report_, [&] {
    settings_->StoreTemperatureUnit();
    for (int n = 1; n <= 5; ++n) ConvertLimitUnit(Row(n).warning);
    for (int n = 1; n <= 5; ++n) ConvertLimitUnit(Row(n).shutdown);
    settings_->Pending.Raise(PendingUnitSettings);
  });
  // The unit just saved and the limits belong together: a crash before the
  // next deferred-write tick must not leave limits stored in the old unit.
  settings_->Service(PendingWarningLimits);
  settings_->Service(PendingShutdownLimits);
  // The boot temperatures are drawn in the display unit.
  ui_->BootTempComboBox->update();
  if (auto* popup = ui_->BootTempComboBox->view()) popup->viewport()->update();
}

void TForm1::ConvertLimitUnit(QSpinBox* spinEdit) {
  const int value = spinEdit->value();
  if (CelsiusFlag && !spinEdit->cleanText().isEmpty()) {
    spinEdit->setValue(FahrenheitToCelsius(value));
  } else {
    spinEdit->setValue(CelsiusToFahrenheit(value));
  }
}

void TForm1::IconShowComboBoxChange() {
  Guarded(report_, [&] {
    TrayHintSource = ui_->IconShowComboBox->currentIndex();
    // The new choice shows now, not at the next sample.
    if (CPUThread* sampler = watch_->CpuSampler()) sampler->UpdateTrayHint();
  });
}
