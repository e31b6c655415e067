// SPDX-License-Identifier: GPL-3.0-or-later
// Writes samples into a history file as fast as it can and prints the number
// of each one after its commit, until it is killed.
//
//   history_probe <file>

#include "history/HistoryStore.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) return 2;
  HistoryStore store(QString::fromLocal8Bit(argv[1]));
  if (!store.Saving()) {
    std::fprintf(stderr, "%s\n", qPrintable(store.FailureReason()));
    return 1;
  }
  HistorySensors sensors;
  sensors[0] = {QStringLiteral("Evaporator"), true, true, -20, -10};
  for (long long i = 0;; ++i) {
    HistoryPoint p;
    p.ms = 1'800'000'000'000LL + i * 3000;
    p.celsius[0] = static_cast<int>(-40 + i % 30);
    p.frontRpm = static_cast<int>(1000 + i % 500);
    store.Append(p, sensors);
    std::printf("%lld\n", i);
    std::fflush(stdout);
  }
}
