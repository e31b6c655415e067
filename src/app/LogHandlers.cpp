// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's side of the logs: the snapshots, the Misc. tab's log
// buttons, the running-hours counter, the log size check half a minute after
// start and the error report by mail.

#include "app/TForm1.h"
#include "core/Guard.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "app/LogDialogs.h"
#include "logs/SendmailTransport.h"
#include "monitor/DeviceData.h"

#include "ui_TForm1.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <exception>
#include <stdexcept>

namespace {

int IntegerCaption(const QString& text) {
  bool ok = false;
  const int value = text.toInt(&ok);
  if (!ok) throw std::runtime_error(QStringLiteral("'%1' is not a valid integer value").arg(text).toStdString());
  return value;
}

// The user's own address for error reports when the settings name one; the
// built-in mailbox otherwise.
QString ReportAddress(const QString& settingsPath) {
  const SettingsKey key(settingsPath, SettingsKey::Open::Existing);
  if (!key.IsOpen() || !key.ValueExists(settings::kReportAddress)) return kErrorReportAddress;
  const QString address = key.ReadString(settings::kReportAddress).trimmed();
  return address.isEmpty() ? kErrorReportAddress : address;
}

}  // namespace

void TForm1::UseDefaultLogServices() {
  if (services_.logFolder.isEmpty()) services_.logFolder = DefaultLogFolder();
  if (!services_.logFolder.endsWith(QLatin1Char('/'))) services_.logFolder += QLatin1Char('/');
  if (!services_.launcher) {
    ownLauncher_ = std::make_unique<DetachedProcessLauncher>();
    services_.launcher = ownLauncher_.get();
  }
  if (!services_.mail) {
    ownMail_ = std::make_unique<SendmailTransport>();
    services_.mail = ownMail_.get();
  }
  errorLog_ = std::make_unique<LogFile>(services_.logFolder + kErrorLogName);
  operationLog_ = std::make_unique<LogFile>(services_.logFolder + kOperationLogName);
}

void TForm1::ConnectLogHandlers() {
  connect(ui_->ViewLogButton, &QPushButton::clicked, this, &TForm1::ViewLogButtonClick);
  connect(ui_->ClearLogButton, &QPushButton::clicked, this, &TForm1::ClearLogButtonClick);
  connect(ui_->ErrorViewButton, &QPushButton::clicked, this, &TForm1::ErrorViewButtonClick);
  connect(ui_->SendButton, &QPushButton::clicked, this, &TForm1::SendButtonClick);
  connect(&MaintainTimer, &QTimer::timeout, this, &TForm1::MaintainTimerTimer);
  connect(&HoursRunTimer, &QTimer::timeout, this, &TForm1::HoursRunTimerTimer);
}

// ---------------------------------------------------------------------------
// Snapshots

void TForm1::WriteOperationLogSnapshot() { WriteLogSnapshot(operationLog_.get()); }

void TForm1::WriteErrorLogSnapshot() { WriteLogSnapshot(errorLog_.get()); }

void TForm1::WriteLogSnapshot(const LogFile* log) {
  if (!log) return;
  Guarded(report_, [&] {
    const Ui::TForm1& u = *ui_;
    LogRecord r;
    r.Timestamp = services_.clock->Now();
    r.CpuSpeed = CpuSpeedMHz ? CpuSpeedMHz->load() : 0;
    r.CpuLoad = CpuLoadPercent ? CpuLoadPercent->load() : 0;
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
    r.DisplayLine1 = u.PrimaryTextComboBox->currentText();
    r.DisplayLine2 = u.SecondaryTextComboBox->currentText();
    r.DisplayInterval = frontPanel_->DisplayIntervalTimer.interval();
    r.WarningHandling = u.WarningHandlingComboBox->currentText();
    r.BootTemperature = IntegerCaption(u.BootTempComboBox->currentText());
    r.HeaterEffect = u.HeatingSlider->value() * 10;
    r.OperationHours = model_.operatingHours;
    r.SystemStatus = model_.status.caption;
    log->WriteRecord(r);
  });
}

// ---------------------------------------------------------------------------
// Misc. tab buttons

void TForm1::ViewLogButtonClick() {
  if (!operationLog_) return;
  operationLog_->OpenInViewer(*services_.launcher);
}

void TForm1::ErrorViewButtonClick() {
  if (!errorLog_) return;
  errorLog_->OpenInViewer(*services_.launcher);
}

void TForm1::ClearLogButtonClick() {
  if (!operationLog_) return;
  try {
    if (!services_.boxes->AskOkCancel(QStringLiteral("Are you sure, you want to Clear the operation log?"),
                                      QStringLiteral("Confirm Delete")))
      return;
    operationLog_->Delete();
    if (statusQueue_) statusQueue_->Append(QStringLiteral("Log Cleared"));
  } catch (const std::exception& e) {
    report_(ErrorReportText(e));
  }
}

void TForm1::SendButtonClick() {
  if (!errorLog_ || !operationLog_) return;
  Guarded(report_, [&] {
    SendMail(*services_.mail, kErrorReportSubject, ReportAddress(services_.settingsPath), kErrorReportText,
             errorLog_->FileName(), statusQueue_.get());
  });
}

void TForm1::HoursRunTimerTimer() {
  Guarded(report_, [&] {
    // -1: the unit has not told its count yet. Counting on from there would
    // send the unit a few hours at close and overwrite its real count.
    if (model_.operatingHours < 0) return;
    ++model_.operatingHours;
    ShowOperatingHours();
    ui_->OperHours->repaint();
  });
}

// ---------------------------------------------------------------------------
// Log size check

void TForm1::MaintainTimerTimer() {
  if (Terminating()) return;
  MaintainTimer.stop();
  CheckLogSizes();
}

void TForm1::CheckLogSizes() {
  if (!errorLog_ || !operationLog_) return;
  // The trim reads the whole log; a log grown to gigabytes would hold the
  // window (and the poll) for as long as that takes.
  Guarded(report_, [&] {
    if (errorLog_->SizeKb() > 50) {
      errorLog_->StartTrimOldest(25, [this](const QString& error) {
        QMetaObject::invokeMethod(this, [this, error] { ReportError(error); }, Qt::QueuedConnection);
      });
    }
  });

  const int sizeKb = operationLog_->SizeKb();
  if (sizeKb <= 500 || ModalDialogOpen) return;

  const double now = DateTimeToDays(services_.clock->Now());
  double next = now - 1000.0;
  try {
    const SettingsKey key(services_.settingsPath, SettingsKey::Open::Existing);
    if (key.IsOpen() && key.ValueExists(settings::kNextRemind)) next = key.ReadDateTime(settings::kNextRemind);
  } catch (const std::exception& e) {
    report_(ErrorReportText(e));
    return;
  }
  // "Never" is stored as -1.0: no question again, not one at every start.
  if (next < 0.0 || !(next < now)) return;

  TClearLogForm dialog(this, LogClearCanceled, [this](QWidget* owner) { ShowReminder(owner); });
  dialog.ShowSize(sizeKb);
  // A dialog closed by its title bar keeps the log.
  LogClearCanceled = true;
  ModalDialogOpen = true;
  Guarded(report_, [&] {
    services_.boxes->ExecModal(dialog);
    if (LogClearCanceled) {
      if (statusQueue_) statusQueue_->Append(QStringLiteral("Log clear canceled"));
    } else {
      operationLog_->Delete();
      if (statusQueue_) statusQueue_->Append(QStringLiteral("Log Cleared"));
    }
  });
  ModalDialogOpen = false;
}

void TForm1::ShowReminder(QWidget* owner) {
  TReminderForm reminder(owner, services_.settingsPath, *services_.clock,
                         [this](const QString& message) { ReportError(message); });
  services_.boxes->ExecModal(reminder);
}
