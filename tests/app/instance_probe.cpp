// SPDX-License-Identifier: GPL-3.0-or-later
// A minimal program around the single-instance rule, so that a test can start
// it twice as real processes.
#include "core/SingleInstance.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QString key = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("probe");
  SingleInstance instance(key);
  if (!instance.TryBecomePrimary()) {
    std::printf("secondary\n");
    return 0;
  }
  QObject::connect(&instance, &SingleInstance::restoreRequested, &app, [] {
    std::printf("restore requested\n");
    std::fflush(stdout);
    QCoreApplication::quit();
  });
  QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(3); });
  std::printf("primary\n");
  std::fflush(stdout);
  return app.exec();
}
