// SPDX-License-Identifier: GPL-3.0-or-later
// Prints every key of an INI file as QSettings reads it, one "key=value" a
// line, so that a sample settings file can be checked the way a program of
// ours will read it.
#include <QCoreApplication>
#include <QSettings>
#include <cstdio>

int main(int argc, char **argv) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: ini_probe FILE\n");
    return 2;
  }
  QSettings settings(QString::fromLocal8Bit(argv[1]), QSettings::IniFormat);
  for (const QString &key : settings.allKeys()) {
    std::printf("%s=%s\n", qPrintable(key), qPrintable(settings.value(key).toString()));
  }
  return settings.status() == QSettings::NoError ? 0 : 1;
}
