// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/ProgramFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace programfiles {

QString ProgramFolder() {
  return QDir(QCoreApplication::applicationDirPath()).absolutePath() + QLatin1Char('/');
}

QString Find(const QString& fileName) {
  const QString beside = ProgramFolder() + fileName;
  const QString installed = QDir::cleanPath(ProgramFolder() +
                                            QStringLiteral("../share/vornalith-control-centre/") +
                                            fileName);
  for (const QString& candidate : {beside, installed}) {
    if (QFileInfo::exists(candidate)) return candidate;
  }
  return beside;
}

}  // namespace programfiles
