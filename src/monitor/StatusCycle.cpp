// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's side of the unit's replies: decoding them into the
// process-wide records and refreshing the System tab after every status report.

#include "app/TForm1.h"
#include "core/Guard.h"
#include "config/SettingsKey.h"
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

void TForm1::ShowStatusPanel() { ShowPanelState(ui_->SystemStatPanel, model_.status); }

void TForm1::ShowSensorStates() {
  for (int n = 1; n <= 5; ++n) ShowPanelState(Row(n).state, model_.SensorState(n));
}

void TForm1::ShowOperatingHours() { ui_->OperHours->setText(QString::number(model_.operatingHours)); }

// ---------------------------------------------------------------------------
// Reply decoders

void TForm1::ComDataPacket1Packet(QObject*, const QByteArray& payload) { DecodeStatusReply(payload); }

void TForm1::DecodeStatusReply(const QByteArray& payload) {
  alarms_->BeginReply();
  Guarded(report_, [&] {
    DecodeStatusFields(payload, Device.Status, SensorTable);
  });
  // Until the window is up, a reply only updates the readings.
  if (formReady_ && MainWindowCountsAsVisible()) {
    Guarded(report_, [&] {
      RefreshSetupRows();
    });
    RefreshStatus();
  }
  if (Terminating()) return;
  lastSample_ = MakeStatusSample();
  emit statusSampled(lastSample_);
}

StatusSample TForm1::MakeStatusSample() const {
  StatusSample s;
  s.time = services_.clock->Now();
  const UnitStateInfo state = LookupUnitState(Device.Status.UnitState);
  s.unitState = state.code;
  s.unitCaption = state.caption;
  s.statusCaption = model_.status.caption;
  const PanelColour colour = model_.status.colour;
  // The blink's silver is the red of an armed shutdown between two flashes.
  if (colour == PanelColour::Red || colour == PanelColour::Silver) {
    s.statusColour = StatusColour::Red;
  } else if (colour == PanelColour::Orange) {
    s.statusColour = StatusColour::Orange;
  } else {
    s.statusColour = StatusColour::Green;
  }
  const bool celsius = CelsiusFlag;
  s.celsiusDisplay = celsius;
  for (int n = 1; n <= kSensorCount; ++n) {
    const SensorRecord& r = SensorTable[n];
    SensorSample& out = s.sensors.at(static_cast<std::size_t>(n - 1));
    out.number = n;
    out.name = n == 1 ? QStringLiteral("Evaporator") : r.Name;
    out.fitted = n == 1 || !IsUnfittedSensorName(r.Name);
    const int t = r.Temperature;
    if (t != kNoReading) out.celsius = t;
    out.level = r.Level;
    out.higher = n == 1 ? true : r.Higher;
    out.warningCelsius = celsius ? r.WarningLimit : FahrenheitToCelsius(r.WarningLimit);
    out.shutdownCelsius = celsius ? r.ShutdownLimit : FahrenheitToCelsius(r.ShutdownLimit);
  }
  s.frontFanRpm = static_cast<int>(Device.Status.FrontFanRpm);
  s.rearFanRpm = static_cast<int>(Device.Status.RearFanRpm);
  s.cpuClockMHz = CpuSpeedMHz ? static_cast<int>(*CpuSpeedMHz) : 0;
  s.cpuLoadPercent = CpuLoadPercent ? static_cast<int>(*CpuLoadPercent) : 0;
  s.runningHours = model_.operatingHours;
  s.warningRaised = alarms_->AlarmRaisedThisReply();
  const QTimer& shutDown = alarms_->ShutDownTimer;
  s.shutdownArmed = shutDown.isActive();
  s.shutdownSecondsLeft = s.shutdownArmed ? (shutDown.remainingTime() + 999) / 1000 : 0;
  return s;
}

void TForm1::ComDataPacket2Packet(QObject*, const QByteArray& payload) {
  Guarded(report_, [&] {
    DecodeUnitSettingsReply(payload, Device.Settings);
    model_.operatingHours = Device.Settings.OperatingHours();
    ShowOperatingHours();
  });
}

void TForm1::ComDataPacket3Packet(QObject*, const QByteArray& payload) {
  Guarded(report_, [&] {
    DecodeFanBootReply(payload, Device.FanBoot);
  });
}

void TForm1::ComDataPacket6Packet(QObject*, const QByteArray& payload) {
  Guarded(report_, [&] {
    StoreReply6(payload, Device.Store67);
  });
}

void TForm1::ComDataPacket7Packet(QObject*, const QByteArray& payload) {
  Guarded(report_, [&] {
    StoreReply7(payload, Device.Store67);
  });
}

// ---------------------------------------------------------------------------
// Status cycle

void TForm1::SetRowUsable(int sensor, bool usable) {
  const SensorControls row = Row(sensor);
  const QColor colour = usable ? SystemWindowColor : SystemScrollBarColor;
  for (QWidget* w : std::initializer_list<QWidget*>{row.higherLower, row.warning, row.shutdown}) {
    w->setEnabled(usable);
    SetEditColor(w, colour);
  }
}

void TForm1::RefreshSetupRows() {
  // A sensor without a reading stays "N/A" for the rest of the run: its row is
  // disabled, so nothing can name it again until the next start.
  for (int n = 2; n <= 5; ++n) {
    if (SensorTable[n].Temperature == kNoReading) SensorTable[n].Name = kSensorNotAvailable;
  }
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
      SetEditColor(row.name, SystemScrollBarColor);
      row.name->setEnabled(false);
      SetRowUsable(n, false);
      continue;
    }
    if (!name.isEmpty() && row.name->currentText() != name) {
      QSignalBlocker block(row.name);
      row.name->setEditText(name);
    }
    SetEditColor(row.name, SystemWindowColor);
    row.name->setEnabled(true);
    SetRowUsable(n, row.name->currentText() != kSensorOptional);
  }
}

void TForm1::RefreshStatus() {
  const UnitStateInfo state = LookupUnitState(Device.Status.UnitState);
  Device.Status.UnitState = state.code;
  model_.status = {state.caption, PanelColourOf(state.colour)};
  ShowStatusPanel();
  if (!state.queuedText.isEmpty() && statusQueue_) statusQueue_->Append(state.queuedText);

  // A warning that still stands starts the blinking again below.
  if (trayIcon1_) trayIcon1_->SetAnimate(false);

  alarms_->EvaluateTemperatures();
  ShowTemperatures();
  ShowFans();
  alarms_->AlarmDecision();
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
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteBool(settings::kFahrenCel, CelsiusFlag);
    for (int n = 1; n <= 5; ++n) ConvertLimitUnit(Row(n).warning);
    for (int n = 1; n <= 5; ++n) ConvertLimitUnit(Row(n).shutdown);
    Pending.Raise(PendingUnitSettings);
  });
  // The unit just saved and the limits belong together: a crash before the
  // next deferred-write tick must not leave limits stored in the old unit.
  Service(PendingWarningLimits, [this] { SaveWarningLimits(); });
  Service(PendingShutdownLimits, [this] { SaveShutdownLimits(); });
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
    if (cpuThread_) cpuThread_->UpdateTrayHint();
  });
}
