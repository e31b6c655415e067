// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Features.h"

#include "app/TForm1.h"
#include "config/SettingsKey.h"
#include "desktop/DesktopNotifier.h"
#include "app/HistoryFeature.h"
#include "app/LinkLostView.h"
#include "app/ShutdownCountdown.h"
#include "status/MetricsFile.h"
#include "status/StatusPublisher.h"

#include "ui_TForm1.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>

namespace {

constexpr int kIgnoreWarnings = 3;  // the warning choice "Ignore"

// Our own features tell of their faults in the status bar and the program's
// messages (the journal, for a desktop start), never in a box: no one may be
// there to dismiss it.
void SayNotice(TForm1& form, const QString& text) {
  qWarning().noquote() << text;
  if (StatusMessageQueue* queue = form.Queue()) queue->Append(text);
}

}  // namespace

Features::Features(TForm1& form, const CommandLine& commandLine, QObject* parent, const QString& settingsPath)
    : QObject(parent), form_(form) {
  linkLost_ = new LinkLostView(form_, this);
  new ShutdownCountdown(form_, *linkLost_, this);
  history_ = new HistoryFeature(form_, DefaultHistoryPath(), this);
  const QString metricsPath = ChosenMetricsFile(
      commandLine.metricsFile, settingsPath.isEmpty() ? SettingsKey::DefaultPath() : settingsPath);
  if (!metricsPath.isEmpty()) {
    metrics_ = std::make_unique<MetricsFile>(
        metricsPath, ProgramVersion(), form.LastSample(), form.LinkUp(),
        [&form](const QString& text) { SayNotice(form, text); },
        [] { return QDateTime::currentDateTime(); });
    connect(&form, &TForm1::statusSampled, metrics_.get(), &MetricsFile::OnStatusSampled);
    connect(&form, &TForm1::linkStateChanged, metrics_.get(), &MetricsFile::OnLinkStateChanged);
  }

  notifier_ = new DesktopNotifier(QDBusConnection::sessionBus(), this);
  connect(&form_, &TForm1::statusSampled, this, [this](const StatusSample& sample) {
    for (const Notice& notice : notificationPolicy_.OnSample(sample, Choices())) notifier_->Show(notice);
  });
  connect(&form_, &TForm1::linkStateChanged, this, [this](bool up) {
    if (const auto notice = notificationPolicy_.OnLinkChanged(up, Choices())) notifier_->Show(*notice);
  });
  // Closing the control centre is how an armed shutdown is cancelled.
  connect(notifier_, &DesktopNotifier::cancelShutdownRequested, &form_, &TForm1::close);
}

Features::~Features() = default;

void Features::ServeStatusQueries(SingleInstance& instance) {
  statusPublisher_ = std::make_unique<StatusPublisher>(instance, ProgramVersion(), form_.LastSample(),
                                                       form_.LinkUp(), [] { return QDateTime::currentDateTime(); });
  connect(&form_, &TForm1::statusSampled, statusPublisher_.get(), &StatusPublisher::OnStatusSampled);
  connect(&form_, &TForm1::linkStateChanged, statusPublisher_.get(), &StatusPublisher::OnLinkStateChanged);
}

NotificationChoices Features::Choices() const {
  return {form_.ui().NotificationsCheckBox->isChecked(),
          form_.ui().WarningHandlingComboBox->currentIndex() == kIgnoreWarnings};
}
