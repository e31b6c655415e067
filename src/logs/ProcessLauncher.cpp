// SPDX-License-Identifier: GPL-3.0-or-later
#include "logs/ProcessLauncher.h"

#include <QProcess>

bool DetachedProcessLauncher::StartDetached(const QString& program, const QStringList& arguments) {
  return QProcess::startDetached(program, arguments);
}
