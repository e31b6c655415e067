// SPDX-License-Identifier: GPL-3.0-or-later
// Appends numbered records to the log file given as its argument until it is
// killed, printing each number once its record has been written.

#include "logs/LogFile.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) return 2;
  const LogFile log(QString::fromLocal8Bit(argv[1]), QLocale(QLocale::C));
  LogRecord record;
  record.Timestamp = QDateTime(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
  record.DisplayLine1 = QStringLiteral("Speed Load Temp");
  // Long enough that a record spans more than one small write.
  record.SystemStatus = QString(300, QLatin1Char('x'));
  for (int i = 1;; ++i) {
    record.CpuSpeed = i;
    log.WriteRecord(record);
    std::printf("%d\n", i);
    std::fflush(stdout);
  }
}
