// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The unit's replies decoded into the process-wide records, and the status
// cycle that runs after every status reply: the overall status, the sensor
// evaluation and the alarm decision, then one sample for everything that
// watches the unit. No widget here: what is shown goes through the context.

#include "core/Guard.h"
#include "monitor/StatusSample.h"
#include "monitor/UnitModel.h"

#include <QByteArray>
#include <QObject>

class Alarms;
class IClock;
class StatusMessageQueue;

// What the status cycle reaches beyond the records, the model and the alarms.
class StatusCycleContext {
 public:
  virtual ~StatusCycleContext() = default;
  // Whether a reply runs the whole cycle; until then it only updates the
  // readings (the window is not up yet, or closed).
  virtual bool CycleWanted() const = 0;
  // The Setup tab's sensor rows follow the records' names.
  virtual void RefreshSetupRows() = 0;
  // The model's status panel (SystemStatPanel) shown.
  virtual void ShowStatusPanel() = 0;
  // The icon's blink stops (TrayIcon1's Animate); a warning that still stands
  // starts it again in the alarm decision.
  virtual void StopTrayBlink() = 0;
  virtual void ShowTemperatures() = 0;
  virtual void ShowFans() = 0;
  virtual void ShowOperatingHours() = 0;
  virtual bool Terminating() const = 0;
  // The status bar's queue; null before start-up made it and after the close path.
  virtual StatusMessageQueue* Queue() const = 0;
  // The CPU sampler's last clock rate (MHz) and load (%); 0 without it.
  virtual int SampledCpuClock() const = 0;
  virtual int SampledCpuLoad() const = 0;
};

class StatusCycle : public QObject {
  Q_OBJECT
 public:
  StatusCycle(UnitModel& model, Alarms& alarms, StatusCycleContext& context, IClock& clock,
              ReportFunction report, QObject* parent = nullptr);

  // Reply decoders, chosen by the number the reply carries.
  void ComDataPacket1Packet(QObject* sender, const QByteArray& payload);
  void ComDataPacket2Packet(QObject* sender, const QByteArray& payload);
  void ComDataPacket3Packet(QObject* sender, const QByteArray& payload);
  void ComDataPacket6Packet(QObject* sender, const QByteArray& payload);
  void ComDataPacket7Packet(QObject* sender, const QByteArray& payload);

  void DecodeStatusReply(const QByteArray& payload);
  void RefreshStatus();
  StatusSample MakeStatusSample() const;

  // The sample of the last decoded status reply (default until the first).
  const StatusSample& LastSample() const { return lastSample_; }

 signals:
  // After every decoded status reply, once the cycle has run on it.
  void statusSampled(const StatusSample& sample);

 private:
  // A sensor without a reading stays "N/A" for the rest of the run.
  void MarkSensorsWithoutReading();

  UnitModel& model_;
  Alarms& alarms_;
  StatusCycleContext& context_;
  IClock& clock_;
  ReportFunction report_;
  StatusSample lastSample_;
};
