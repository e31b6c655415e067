// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The operation and error logs as the watch keeps them: one snapshot record
// of the readings and settings at start and at every alarm, the running-hours
// count, and the size check half a minute after start. No widget here: what
// the records take from the settings shown, and the question whether to
// clear a large operation log, go through the context.

#include "core/Guard.h"
#include "logs/LogFile.h"
#include "monitor/UnitModel.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class IClock;

// What a snapshot records of the settings the user chose.
struct SnapshotSettings {
  QString displayLine1;     // PrimaryTextComboBox
  QString displayLine2;     // SecondaryTextComboBox
  int displayInterval = 0;  // DisplayIntervalTimer's period, ms
  QString warningHandling;  // WarningHandlingComboBox's text
  QString bootTemperature;  // BootTempComboBox's text: whole degrees Celsius
  int heaterEffect = 0;     // HeatingSlider's position times ten
};

class LogsContext {
 public:
  virtual ~LogsContext() = default;
  virtual SnapshotSettings CurrentSettings() const = 0;
  // The running hours (OperHours) shown, drawn at once.
  virtual void ShowOperatingHoursNow() = 0;
  // The operation log has grown past its limit: whether to clear it is the
  // user's to say (nothing happens where no one can be asked).
  virtual void OfferToClearOperationLog(int sizeKb) = 0;
  virtual bool Terminating() const = 0;
  // The CPU sampler's last clock rate (MHz) and load (%); 0 without it.
  virtual int SampledCpuClock() const = 0;
  virtual int SampledCpuLoad() const = 0;
};

class Logs : public QObject {
  Q_OBJECT
 public:
  Logs(UnitModel& model, LogsContext& context, IClock& clock, ReportFunction report,
       QObject* parent = nullptr);

  // The size check once, half a minute after start; the running hours' tick.
  QTimer MaintainTimer, HoursRunTimer;

  // The two logs in `folder` (ending in '/'), from start-up until Close.
  void Open(const QString& folder);
  void Close();
  LogFile* OperationLog() const { return operationLog_.get(); }
  LogFile* ErrorLog() const { return errorLog_.get(); }

  void WriteOperationLogSnapshot();
  void WriteErrorLogSnapshot();
  void HoursRunTimerTimer();
  void MaintainTimerTimer();
  void CheckLogSizes();

 private:
  void WriteLogSnapshot(const LogFile* log);

  UnitModel& model_;
  LogsContext& context_;
  IClock& clock_;
  ReportFunction report_;
  std::unique_ptr<LogFile> errorLog_;
  std::unique_ptr<LogFile> operationLog_;
};
