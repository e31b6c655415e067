// SPDX-License-Identifier: GPL-3.0-or-later
// The sensor evaluation, the decision that ends every status cycle, the
// alarm action and the emergency shutdown.

#include "monitor/Alarms.h"

#include "core/ProgramFiles.h"
#include "core/Services.h"
#include "core/StatusMessageQueue.h"
#include "config/SettingsKey.h"
#include "host/TrayHint.h"
#include "monitor/Conversions.h"
#include "monitor/UnitStates.h"

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

Alarms::Alarms(UnitModel& model, AlarmsContext& context, Seams seams, QObject* parent)
    : QObject(parent), model_(model), context_(context), seams_(std::move(seams)) {
  ShutDownTimer.setInterval(180000);
  BlinkTimer.setInterval(300);
  connect(&BlinkTimer, &QTimer::timeout, this, &Alarms::BlinkTimerTimer);
  connect(&ShutDownTimer, &QTimer::timeout, this, &Alarms::ShutDownTimerTimer);
}

QString Alarms::AlarmSoundFile() const { return programfiles::Find(QStringLiteral("Alarm.wav")); }

void Alarms::EvaluateTemperatures() {
  for (PanelState& state : model_.sensorStates) state = {kNormal, PanelColour::Green};
  const bool celsius = CelsiusFlag;
  for (int n = 1; n <= 5; ++n) EvaluateSensor(SensorTable[n], celsius);
  Guarded(seams_.report, [&] {
    for (int n = 1; n <= 5; ++n) {
      PanelState& state = model_.SensorState(n);
      if (SensorTable[n].Level == 2) {
        state = {QStringLiteral("ALARM"), PanelColour::Red};
        if (StatusMessageQueue* queue = context_.Queue()) queue->Append(kCriticalText);
      } else if (SensorTable[n].Level == 1) {
        state = {QStringLiteral("Warning"), PanelColour::Orange};
        if (StatusMessageQueue* queue = context_.Queue())
          queue->Append(QStringLiteral("Temperature warning on ") + SensorTable[n].Name);
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
  context_.ShowSensorStates();
  context_.ShowStatus(false);
}

void Alarms::AlarmDecision() {
  const PanelState& status = model_.status;
  TrayHintOverride.Set(QString());
  if (IsFaultCode(Device.Status.UnitState) || status.colour == PanelColour::Orange) {
    alarmRaisedThisReply_ = true;
    RaiseAlarm();
    TrayHintOverride.Set(status.caption);
    context_.ShowStatus(true);
  }
  const PanelColour c = status.colour;
  if (c == PanelColour::Red) {
    if (!ShutDownTimer.isActive()) StartEmergencyShutdown();
    TrayHintOverride.Set(status.caption);
    context_.ShowStatus(true);
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
void Alarms::CancelEmergencyShutdown() {
  Guarded(seams_.report, [&] {
    if (context_.PrimaryText() == kCriticalText) {
      context_.SetPrimaryText(primaryTextBeforeEmergency_);
      context_.RaisePending(PendingLine1Text);
    }
    if (alternationBeforeEmergency_ && context_.AlternationChosen()) context_.SetAlternation(true);
    if (StatusMessageQueue* queue = context_.Queue()) {
      queue->RemoveAll(kCriticalText);
      queue->RemoveAll(kCancelShutdownText);
    }
  });
}

void Alarms::RaiseAlarm() {
  context_.AnimateTrayIcon(false);
  context_.ShowTrayPicture(0);
  Guarded(seams_.report, [&] {
    switch (context_.WarningHandling()) {
      case 0:
        seams_.sound->PlaySync(AlarmSoundFile());
        break;
      case 1:
        context_.AnimateTrayIcon(true);
        break;
      case 2:
        context_.OpenWindow();
        break;
      default:
        break;
    }
    context_.WriteErrorLogSnapshot();
  });
}

void Alarms::StartEmergencyShutdown() {
  Guarded(seams_.report, [&] {
    primaryTextBeforeEmergency_ = context_.PrimaryText();
    alternationBeforeEmergency_ = context_.AlternationRunning();
    ShutDownTimer.start();
    context_.AnimateTrayIcon(true);
    BlinkTimer.start();
    context_.SetAlternation(false);
    context_.SetPrimaryText(kCriticalText);
    context_.RaisePending(PendingLine1Text);
    context_.RaisePending(PendingDisplayParams);
    seams_.clock->Pause(100);
    if (StatusMessageQueue* queue = context_.Queue()) {
      queue->Append(kCriticalText);
      queue->Append(kCancelShutdownText);
    }
    context_.WriteErrorLogSnapshot();
  });
}

void Alarms::BlinkTimerTimer() {
  Guarded(seams_.report, [&] {
    PanelColour& colour = model_.status.colour;
    colour = colour == PanelColour::Red ? PanelColour::Silver : PanelColour::Red;
    context_.ShowStatus(false);
    StatusMessageQueue* queue = context_.Queue();
    if (queue && queue->Count() < 5) {
      queue->Append(kCriticalText);
      queue->Append(kCancelShutdownText);
      seams_.sound->PlaySync(AlarmSoundFile());
    }
  });
}

void Alarms::ShutDownTimerTimer() {
  // Closing the program is how the user cancels an armed shutdown; a tick
  // that still falls due while the program ends must not power off.
  if (context_.Terminating()) return;
  // A close asked for by the system waits for the notice (events are let
  // through below, and the pause may be cut short by nothing but its end).
  shutdownSequenceRunning_ = true;
  try {
    context_.ResetSettingsToDefaults();
    if (StatusMessageQueue* queue = context_.Queue()) queue->Append(kShuttingDownText);
    // The next start runs on the built-in settings.
    SettingsKey::DeleteKey(seams_.settingsPath);
    // Without a power-off seam nothing is asked for: the system's own
    // power-off is never a fallback (a window under test has no business
    // reaching it).
    if (seams_.powerOff) seams_.powerOff->RequestPowerOff();
    seams_.clock->ProcessPendingEvents();
    seams_.clock->Pause(10000);
    context_.ExchangePacket(packet::MakeReadRequest(packet::kShutdownNotice));
  } catch (const std::exception& e) {
    shutdownSequenceRunning_ = false;
    ReportError(e);
  }
  shutdownSequenceRunning_ = false;
}
