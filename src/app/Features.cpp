// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Features.h"

#include "app/TForm1.h"
#include "config/SettingsKey.h"
#include "history/HistoryFeature.h"
#include "history/LinkLostView.h"
#include "status/MetricsFile.h"
#include "status/StatusPublisher.h"

namespace {

QString ProgramVersion() { return kApplicationTitle.section(QLatin1Char(' '), -1); }

}  // namespace

Features::Features(TForm1& form, const CommandLine& commandLine, QObject* parent, const QString& settingsPath)
    : QObject(parent), form_(form) {
  linkLost_ = new LinkLostView(form_, this);
  history_ = new HistoryFeature(form_, DefaultHistoryPath(), this);
  const QString metricsPath = ChosenMetricsFile(
      commandLine.metricsFile, settingsPath.isEmpty() ? SettingsKey::DefaultPath() : settingsPath);
  if (!metricsPath.isEmpty()) {
    metrics_ = std::make_unique<MetricsFile>(
        metricsPath, ProgramVersion(), form.LastSample(), form.LinkUp(),
        [&form](const QString& message) { form.ReportError(message); },
        [] { return QDateTime::currentDateTime(); });
    connect(&form, &TForm1::statusSampled, metrics_.get(), &MetricsFile::OnStatusSampled);
    connect(&form, &TForm1::linkStateChanged, metrics_.get(), &MetricsFile::OnLinkStateChanged);
  }
}

Features::~Features() = default;

void Features::ServeStatusQueries(SingleInstance& instance) {
  statusPublisher_ = std::make_unique<StatusPublisher>(instance, ProgramVersion(), form_.LastSample(),
                                                       form_.LinkUp(), [] { return QDateTime::currentDateTime(); });
  connect(&form_, &TForm1::statusSampled, statusPublisher_.get(), &StatusPublisher::OnStatusSampled);
  connect(&form_, &TForm1::linkStateChanged, statusPublisher_.get(), &StatusPublisher::OnLinkStateChanged);
}
