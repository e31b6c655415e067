// SPDX-License-Identifier: GPL-3.0-or-later
// The window's side of the logs: what the snapshots record of the settings
// shown, the Misc. tab's log buttons, the question whether to clear a large
// operation log, and the error report by mail.

#include "app/TForm1.h"
#include "core/Guard.h"
#include "config/SettingsKey.h"
#include "config/SettingsValues.h"
#include "app/LogDialogs.h"
#include "logs/SendmailTransport.h"
#include "monitor/DeviceData.h"

#include "ui_TForm1.h"

#include <QComboBox>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

#include <exception>
#include <stdexcept>

namespace {

// The user's own address for error reports when the settings name one; the
// built-in mailbox otherwise.
QString ReportAddress(const QString& settingsPath) {
  const SettingsKey key(settingsPath, SettingsKey::Open::Existing);
  if (!key.IsOpen() || !key.ValueExists(settings::kReportAddress)) return kErrorReportAddress;
  const QString address = key.ReadString(settings::kReportAddress).trimmed();
  return address.isEmpty() ? kErrorReportAddress : address;
}

// A log the viewer cannot show is said in the status bar, or the button would
// seem to do nothing.
void ViewLog(const LogFile* log, IProcessLauncher& launcher, StatusMessageQueue* queue) {
  if (!log || log->OpenInViewer(launcher) || !queue) return;
  const QString name = QFileInfo(log->FileName()).fileName();
  queue->Append(QFileInfo::exists(log->FileName()) ? QStringLiteral("No program to show %1").arg(name)
                                                   : QStringLiteral("%1 does not exist yet").arg(name));
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
  watch_->Log().Open(services_.logFolder);
}

void TForm1::ConnectLogHandlers() {
  connect(ui_->ViewLogButton, &QPushButton::clicked, this, &TForm1::ViewLogButtonClick);
  connect(ui_->ClearLogButton, &QPushButton::clicked, this, &TForm1::ClearLogButtonClick);
  connect(ui_->ErrorViewButton, &QPushButton::clicked, this, &TForm1::ErrorViewButtonClick);
  connect(ui_->SendButton, &QPushButton::clicked, this, &TForm1::SendButtonClick);
}

// ---------------------------------------------------------------------------
// What the logs reach in the window

SnapshotSettings TForm1::CurrentSettings() const {
  const Ui::TForm1& u = *ui_;
  SnapshotSettings chosen;
  chosen.displayLine1 = u.PrimaryTextComboBox->currentText();
  chosen.displayLine2 = u.SecondaryTextComboBox->currentText();
  chosen.displayInterval = watch_->Panel().DisplayIntervalTimer.interval();
  chosen.warningHandling = u.WarningHandlingComboBox->currentText();
  chosen.bootTemperature = u.BootTempComboBox->currentText();
  chosen.heaterEffect = u.HeatingSlider->value() * 10;
  return chosen;
}

void TForm1::ShowOperatingHoursNow() {
  ShowOperatingHours();
  ui_->OperHours->repaint();
}

// ---------------------------------------------------------------------------
// Misc. tab buttons

void TForm1::ViewLogButtonClick() { ViewLog(watch_->Log().OperationLog(), *services_.launcher, Queue()); }

void TForm1::ErrorViewButtonClick() { ViewLog(watch_->Log().ErrorLog(), *services_.launcher, Queue()); }

void TForm1::ClearLogButtonClick() {
  LogFile* operationLog = watch_->Log().OperationLog();
  if (!operationLog) return;
  try {
    if (!services_.boxes->AskOkCancel(QStringLiteral("Are you sure, you want to Clear the operation log?"),
                                      QStringLiteral("Confirm Delete")))
      return;
    operationLog->Delete();
    if (Queue()) Queue()->Append(QStringLiteral("Log Cleared"));
  } catch (const std::exception& e) {
    report_(ErrorReportText(e));
  }
}

void TForm1::SendButtonClick() {
  if (!watch_->Log().ErrorLog() || !watch_->Log().OperationLog()) return;
  Guarded(report_, [&] {
    SendMail(*services_.mail, kErrorReportSubject, ReportAddress(services_.settingsPath), kErrorReportText,
             watch_->Log().ErrorLog()->FileName(), Queue());
  });
}

// ---------------------------------------------------------------------------
// The large operation log's question

void TForm1::OfferToClearOperationLog(int sizeKb) {
  if (modalDialogOpen_) return;

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

  TClearLogForm dialog(this, logClearCanceled_, [this](QWidget* owner) { ShowReminder(owner); });
  dialog.ShowSize(sizeKb);
  // A dialog closed by its title bar keeps the log.
  logClearCanceled_ = true;
  modalDialogOpen_ = true;
  Guarded(report_, [&] {
    services_.boxes->ExecModal(dialog);
    if (logClearCanceled_) {
      if (Queue()) Queue()->Append(QStringLiteral("Log clear canceled"));
    } else {
      // The close path may have run while the dialog stood.
      if (LogFile* log = watch_->Log().OperationLog()) log->Delete();
      if (Queue()) Queue()->Append(QStringLiteral("Log Cleared"));
    }
  });
  modalDialogOpen_ = false;
}

void TForm1::ShowReminder(QWidget* owner) {
  TReminderForm reminder(owner, services_.settingsPath, *services_.clock,
                         [this](const QString& message) { ReportError(message); });
  services_.boxes->ExecModal(reminder);
}
