// SPDX-License-Identifier: GPL-3.0-or-later
#include "logs/Logs.h"

#include "core/Services.h"
#include "monitor/Conversions.h"
#include "monitor/DeviceData.h"

Logs::Logs(UnitModel& model, LogsContext& context, IClock& clock, ReportFunction report, QObject* parent)
    : QObject(parent), model_(model), context_(context), clock_(clock), report_(std::move(report)) {
  MaintainTimer.setInterval(30000);
  HoursRunTimer.setInterval(3600000);
  connect(&MaintainTimer, &QTimer::timeout, this, &Logs::MaintainTimerTimer);
  connect(&HoursRunTimer, &QTimer::timeout, this, &Logs::HoursRunTimerTimer);
}

void Logs::Open(const QString& folder) {
  errorLog_ = std::make_unique<LogFile>(folder + kErrorLogName);
  operationLog_ = std::make_unique<LogFile>(folder + kOperationLogName);
}

void Logs::Close() {
  errorLog_.reset();
  operationLog_.reset();
}

// ---------------------------------------------------------------------------
// Snapshots

void Logs::WriteOperationLogSnapshot() { WriteLogSnapshot(operationLog_.get()); }

void Logs::WriteErrorLogSnapshot() { WriteLogSnapshot(errorLog_.get()); }

void Logs::WriteLogSnapshot(const LogFile* log) {
  if (!log) return;
  Guarded(report_, [&] {
    const SnapshotSettings chosen = context_.CurrentSettings();
    LogRecord r;
    r.Timestamp = clock_.Now();
    r.CpuSpeed = context_.SampledCpuClock();
    r.CpuLoad = context_.SampledCpuLoad();
    for (int n = 1; n <= kSensorCount; ++n) {
      const SensorRecord& s = SensorTable[n];
      LogSensor& out = r.Sensors[static_cast<std::size_t>(n - 1)];
      out.Name = s.Name;
      out.Temperature = s.Temperature;
      out.Higher = s.Higher ? 1 : 0;
      out.WarningLimit = s.WarningLimit;
      out.ShutdownLimit = s.ShutdownLimit;
    }
    r.RearFan = static_cast<std::int32_t>(Device.Status.RearFanRpm);
    r.FrontFan = static_cast<std::int32_t>(Device.Status.FrontFanRpm);
    r.DisplayLine1 = chosen.displayLine1;
    r.DisplayLine2 = chosen.displayLine2;
    r.DisplayInterval = chosen.displayInterval;
    r.WarningHandling = chosen.warningHandling;
    r.BootTemperature = IntegerCaption(chosen.bootTemperature);
    r.HeaterEffect = chosen.heaterEffect;
    r.OperationHours = model_.operatingHours;
    r.SystemStatus = model_.status.caption;
    log->WriteRecord(r);
  });
}

// ---------------------------------------------------------------------------
// Running hours

void Logs::HoursRunTimerTimer() {
  Guarded(report_, [&] {
    // -1: the unit has not told its count yet. Counting on from there would
    // send the unit a few hours at close and overwrite its real count.
    if (model_.operatingHours < 0) return;
    ++model_.operatingHours;
    context_.ShowOperatingHoursNow();
  });
}

// ---------------------------------------------------------------------------
// Log size check

void Logs::MaintainTimerTimer() {
  if (context_.Terminating()) return;
  MaintainTimer.stop();
  CheckLogSizes();
}

void Logs::CheckLogSizes() {
  if (!errorLog_ || !operationLog_) return;
  // The trim reads the whole log; a log grown to gigabytes would hold the
  // poll for as long as that takes.
  Guarded(report_, [&] {
    if (errorLog_->SizeKb() > 50) {
      errorLog_->StartTrimOldest(25, [this](const QString& error) {
        QMetaObject::invokeMethod(
            this, [this, error] { report_(QStringLiteral("Error: ") + error); }, Qt::QueuedConnection);
      });
    }
  });
  const int sizeKb = operationLog_->SizeKb();
  if (sizeKb > 500) context_.OfferToClearOperationLog(sizeKb);
}
