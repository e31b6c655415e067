// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The alarms: how a sensor's reading compares with its limits, the decision
// that ends every status cycle, the alarm action and the emergency shutdown.
// No widget here: what the alarms show or change beyond the model (the icon,
// the front panel's line 1, the logs, the settings) goes through the context
// the window, or a service without one, provides.

#include "config/PendingWrites.h"
#include "core/Guard.h"
#include "device/Packet.h"
#include "monitor/DeviceData.h"
#include "monitor/UnitModel.h"

#include <QObject>
#include <QString>
#include <QTimer>

class IClock;
class IPowerOff;
class ISound;
class StatusMessageQueue;

inline const QString kCriticalText = QStringLiteral("TEMPERATURE CRITICAL - SHUTTING DOWN");
inline const QString kCancelShutdownText = QStringLiteral("CLOSE CONTROL CENTER TO CANCEL SHUTDOWN");
inline const QString kShuttingDownText = QStringLiteral("Shutting down....");

// Sets record.Level: 0 normal, 1 warning limit reached, 2 shut-down limit
// reached. Limits are held in the display unit and compared in Celsius.
// Sensors that are not fitted keep the level they had.
void EvaluateSensor(SensorRecord& record, bool celsius);

// What the alarms reach beyond themselves and the model.
class AlarmsContext {
 public:
  virtual ~AlarmsContext() = default;
  // The alarm action chosen (WarningHandlingComboBox): 0 sound, 1 blinking
  // icon, 2 open the window, 3 nothing.
  virtual int WarningHandling() const = 0;
  // The notification-area icon (TrayIcon1): blinking on or off, a picture.
  virtual void AnimateTrayIcon(bool on) = 0;
  virtual void ShowTrayPicture(int index) = 0;
  virtual void OpenWindow() = 0;  // Open1Click
  // The model's status panel shown now, drawn at once where `now`; its
  // state panels.
  virtual void ShowStatus(bool now) = 0;
  virtual void ShowSensorStates() = 0;
  // Line 1 of the front panel (PrimaryTextComboBox) and its alternation
  // (DisplayIntervalTimer, DispLine1Int).
  virtual QString PrimaryText() const = 0;
  virtual void SetPrimaryText(const QString& text) = 0;
  virtual bool AlternationRunning() const = 0;
  virtual bool AlternationChosen() const = 0;
  virtual void SetAlternation(bool on) = 0;
  virtual void RaisePending(PendingWrite write) = 0;
  virtual void WriteErrorLogSnapshot() = 0;
  virtual void ResetSettingsToDefaults() = 0;
  virtual bool Terminating() const = 0;
  // The status bar's queue; null before start-up made it and after the close path.
  virtual StatusMessageQueue* Queue() const = 0;
  virtual void ExchangePacket(const packet::Request& request) = 0;
};

class Alarms : public QObject {
  Q_OBJECT
 public:
  struct Seams {
    ISound* sound = nullptr;
    IPowerOff* powerOff = nullptr;  // none: nothing is asked for
    IClock* clock = nullptr;
    QString settingsPath;
    ReportFunction report;
  };

  Alarms(UnitModel& model, AlarmsContext& context, Seams seams, QObject* parent = nullptr);

  // Armed: the power-off falls due when it fires. The blink of the armed status.
  QTimer ShutDownTimer, BlinkTimer;

  void EvaluateTemperatures();
  void AlarmDecision();
  void RaiseAlarm();
  void StartEmergencyShutdown();
  void CancelEmergencyShutdown();
  void BlinkTimerTimer();
  void ShutDownTimerTimer();
  QString AlarmSoundFile() const;

  // A new status reply is being decided on.
  void BeginReply() { alarmRaisedThisReply_ = false; }
  // Whether the last reply raised the alarm action.
  bool AlarmRaisedThisReply() const { return alarmRaisedThisReply_; }
  // True from the power-off request of the shutdown sequence until its last
  // notice has gone to the unit; the program must not close in between.
  bool ShutdownSequenceRunning() const { return shutdownSequenceRunning_; }

 private:
  void ReportError(const std::exception& e) { seams_.report(ErrorReportText(e)); }

  UnitModel& model_;
  AlarmsContext& context_;
  Seams seams_;
  bool alarmRaisedThisReply_ = false;
  bool shutdownSequenceRunning_ = false;
  // What the front panel's line 1 showed before an emergency took it over.
  QString primaryTextBeforeEmergency_;
  bool alternationBeforeEmergency_ = false;
};
