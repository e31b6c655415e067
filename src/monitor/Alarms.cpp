// SPDX-License-Identifier: GPL-3.0-or-later
// The sensor evaluation, the decision that ends every status cycle, the
// alarm action and the emergency shutdown.

#include "monitor/Alarms.h"
#include "core/Guard.h"

#include "app/ProgramFiles.h"
#include "app/TForm1.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "host/TrayHint.h"
#include "monitor/Conversions.h"
#include "monitor/UnitStates.h"
#include "widgets/Palette.h"
#include "widgets/TTrayIcon.h"

#include "ui_TForm1.h"

#include <QComboBox>
#include <QCheckBox>
#include <QLabel>

#include <exception>

void EvaluateSensor(SensorRecord& record, bool celsius) {
  if (record.Name == kSensorNotAvailable || record.Name == kSensorOptional) return;
  record.Level = 0;
  int warning = record.WarningLimit;
  int shutdown = record.ShutdownLimit;
  if (!celsius) {
    warning = FahrenheitToCelsius(warning);
    shutdown = FahrenheitToCelsius(shutdown);
  }
  const int t = record.Temperature;
  // The shut-down test stands on its own: a crossed shut-down limit counts
  // even where the warning limit is not crossed.
  if (record.Higher) {
    if (t >= warning) record.Level = 1;
    if (t >= shutdown) record.Level = 2;
  } else {
    if (t <= warning) record.Level = 1;
    if (t <= shutdown) record.Level = 2;
  }
}

namespace {
const QString kNormal = QStringLiteral("Normal");
}  // namespace

QString TForm1::AlarmSoundFile() const { return programfiles::Find(QStringLiteral("Alarm.wav")); }

void TForm1::EvaluateTemperatures() {
  for (PanelState& state : model_.sensorStates) state = {kNormal, PanelColour::Green};
  const bool celsius = CelsiusFlag;
  for (int n = 1; n <= 5; ++n) EvaluateSensor(SensorTable[n], celsius);
  Guarded(report_, [&] {
    for (int n = 1; n <= 5; ++n) {
      PanelState& state = model_.SensorState(n);
      if (SensorTable[n].Level == 2) {
        state = {QStringLiteral("ALARM"), PanelColour::Red};
        if (statusQueue_) statusQueue_->Append(kCriticalText);
      } else if (SensorTable[n].Level == 1) {
        state = {QStringLiteral("Warning"), PanelColour::Orange};
        if (statusQueue_) statusQueue_->Append(QStringLiteral("Temperature warning on ") + SensorTable[n].Name);
      }
    }
    // The first sensor that qualifies sets the overall status; after it the
    // later tests fail. Sensor 1 may replace any green state of the unit,
    // sensors 2..5 only a plain "Normal".
    PanelState& status = model_.status;
    if (model_.SensorState(1).caption != kNormal && status.colour == PanelColour::Green)
      status = model_.SensorState(1);
    for (int n = 2; n <= 5; ++n) {
      const PanelState& state = model_.SensorState(n);
      if (SensorTable[n].Name != kSensorNotAvailable && state.caption != kNormal && status.caption == kNormal)
        status = state;
    }
  });
  ShowSensorStates();
  ShowStatusPanel();
}

void TForm1::AlarmDecision() {
  const PanelState& status = model_.status;
  TrayHintOverride.Set(QString());
  if (IsFaultCode(Device.Status.UnitState) || status.colour == PanelColour::Orange) {
    alarmRaisedThisReply_ = true;
    RaiseAlarm();
    TrayHintOverride.Set(status.caption);
    ui_->SystemStatPanel->repaint();
  }
  const PanelColour c = status.colour;
  if (c == PanelColour::Red) {
    if (!ShutDownTimer.isActive()) StartEmergencyShutdown();
    TrayHintOverride.Set(status.caption);
    ui_->SystemStatPanel->repaint();
  } else if (c != PanelColour::Silver) {
    // Any reply that is not red cancels an armed shutdown.
    if (ShutDownTimer.isActive()) CancelEmergencyShutdown();
    ShutDownTimer.stop();
    BlinkTimer.stop();
  }
}

// Once the condition has cleared, the unit's front panel and the status bar
// must stop announcing a shutdown that will not come: line 1 goes back to the
// user's text and alternation, and the queued shutdown texts are dropped.
void TForm1::CancelEmergencyShutdown() {
  Guarded(report_, [&] {
    if (ui_->PrimaryTextComboBox->currentText() == kCriticalText) {
      ui_->PrimaryTextComboBox->setEditText(primaryTextBeforeEmergency_);
      Pending.Raise(PendingLine1Text);
    }
    if (alternationBeforeEmergency_ && settings::HasDisplayInterval(ui_->DispLine1Int->currentIndex()))
      DisplayIntervalTimer.start();
    if (statusQueue_) {
      statusQueue_->RemoveAll(kCriticalText);
      statusQueue_->RemoveAll(kCancelShutdownText);
    }
  });
}

void TForm1::RaiseAlarm() {
  TrayIcon1()->SetAnimate(false);
  TrayIcon1()->SetIconIndex(0);
  Guarded(report_, [&] {
    switch (ui_->WarningHandlingComboBox->currentIndex()) {
      case 0:
        services_.sound->PlaySync(AlarmSoundFile());
        break;
      case 1:
        TrayIcon1()->SetAnimate(true);
        break;
      case 2:
        Open1Click();
        break;
      default:
        break;
    }
    WriteErrorLogSnapshot();
  });
}

void TForm1::StartEmergencyShutdown() {
  Guarded(report_, [&] {
    primaryTextBeforeEmergency_ = ui_->PrimaryTextComboBox->currentText();
    alternationBeforeEmergency_ = DisplayIntervalTimer.isActive();
    ShutDownTimer.start();
    TrayIcon1()->SetAnimate(true);
    BlinkTimer.start();
    DisplayIntervalTimer.stop();
    ui_->PrimaryTextComboBox->setEditText(kCriticalText);
    Pending.Raise(PendingLine1Text);
    Pending.Raise(PendingDisplayParams);
    services_.clock->Pause(100);
    if (statusQueue_) {
      statusQueue_->Append(kCriticalText);
      statusQueue_->Append(kCancelShutdownText);
    }
    WriteErrorLogSnapshot();
  });
}

void TForm1::BlinkTimerTimer() {
  Guarded(report_, [&] {
    PanelColour& colour = model_.status.colour;
    colour = colour == PanelColour::Red ? PanelColour::Silver : PanelColour::Red;
    ShowStatusPanel();
    if (statusQueue_ && statusQueue_->Count() < 5) {
      statusQueue_->Append(kCriticalText);
      statusQueue_->Append(kCancelShutdownText);
      services_.sound->PlaySync(AlarmSoundFile());
    }
  });
}

void TForm1::ShutDownTimerTimer() {
  // Closing the program is how the user cancels an armed shutdown; a tick
  // that still falls due while the program ends must not power off.
  if (Terminating()) return;
  // A close asked for by the system waits for the notice (events are let
  // through below, and the pause may be cut short by nothing but its end).
  shutdownSequenceRunning_ = true;
  try {
    ResetSettingsToDefaults();
    if (statusQueue_) statusQueue_->Append(kShuttingDownText);
    // The next start runs on the built-in settings.
    SettingsKey::DeleteKey(services_.settingsPath);
    // Without a power-off seam nothing is asked for: the system's own
    // power-off is never a fallback (a window under test has no business
    // reaching it).
    if (services_.powerOff) services_.powerOff->RequestPowerOff();
    services_.clock->ProcessPendingEvents();
    services_.clock->Pause(10000);
    ExchangePacket(packet::MakeReadRequest(packet::kShutdownNotice));
  } catch (const std::exception& e) {
    shutdownSequenceRunning_ = false;
    report_(ErrorReportText(e));
  }
  shutdownSequenceRunning_ = false;
}

void TForm1::NotificationsCheckBoxClick() {
  Guarded(report_, [&] {
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteBool(settings::kNotifications, ui_->NotificationsCheckBox->isChecked());
  });
}

void TForm1::WarningHandlingComboBoxChange() {
  Guarded(report_, [&] {
    SettingsKey key(services_.settingsPath, SettingsKey::Open::CreateIfMissing);
    key.WriteInteger(settings::kWarningHandlingIndex, ui_->WarningHandlingComboBox->currentIndex());
  });
}
