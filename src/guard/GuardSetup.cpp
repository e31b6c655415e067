// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard/GuardSetup.h"

#include <QFileInfo>
#include <QSettings>

namespace {

QString FolderFromEnvironment(const char* variable, const char* fallback) {
  // systemd lists one folder per name given in the unit, separated by colons.
  const QString listed = qEnvironmentVariable(variable).section(QLatin1Char(':'), 0, 0);
  return listed.isEmpty() ? QString::fromLatin1(fallback) : listed;
}

}  // namespace

GuardFolders GuardFoldersFromEnvironment() {
  return {FolderFromEnvironment("STATE_DIRECTORY", "/var/lib/vornalith"),
          FolderFromEnvironment("RUNTIME_DIRECTORY", "/run/vornalith"),
          FolderFromEnvironment("CONFIGURATION_DIRECTORY", "/etc/vornalith")};
}

GuardConfig ReadGuardConfig(const QString& path) {
  GuardConfig config;
  const QFileInfo info(path);
  if (!info.exists()) return config;
  if (!info.isFile() || !info.isReadable()) {
    config.problems << QStringLiteral("%1 is not a readable file; the built-in settings are used").arg(path);
    return config;
  }
  QSettings file(path, QSettings::IniFormat);
  if (file.status() != QSettings::NoError) {
    config.problems << QStringLiteral("%1 could not be read; the built-in settings are used").arg(path);
    return config;
  }
  file.beginGroup(QStringLiteral("Guard"));
  config.metricsFile = file.value(QStringLiteral("MetricsFile")).toString().trimmed();
  const QString ids = file.value(QStringLiteral("UnitUsbId")).toString().trimmed();
  if (!ids.isEmpty()) {
    if (const auto parsed = ParseUnitUsbId(ids.toStdString()))
      config.unitIds = *parsed;
    else
      config.problems << QStringLiteral("%1: UnitUsbId \"%2\" is not of the form %3; the unit is looked for as %4")
                             .arg(path, ids, QString::fromLatin1(kUnitUsbIdForm),
                                  QString::fromStdString(FormatUnitUsbId(UnitUsbIds)));
  }
  return config;
}

QString GuardSocketPath(const GuardFolders& folders) {
  const QString named = qEnvironmentVariable("VCC_GUARD_SOCKET");
  return named.isEmpty() ? folders.runtime + QStringLiteral("/guard.sock") : named;
}
