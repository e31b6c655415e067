// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The most resident memory this process held while `run` ran, from the
// kernel's high-water mark (reset first).

#include <QFile>

#include <gtest/gtest.h>

#include <functional>

inline long PeakResidentKbWhile(const std::function<void()>& run) {
  QFile reset("/proc/self/clear_refs");
  EXPECT_TRUE(reset.open(QIODevice::WriteOnly) && reset.write("5") == 1);
  reset.close();
  run();
  QFile status("/proc/self/status");
  EXPECT_TRUE(status.open(QIODevice::ReadOnly));
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
  return -1;
}
