// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How far this process's resident memory rose above where it stood while
// `run` ran, from the kernel's high-water mark (reset first). The rise, not
// the peak: what the process held before is not the code's under test.

#include <QFile>

#include <gtest/gtest.h>

#include <functional>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VCC_PEAK_MEMORY_ASAN 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define VCC_PEAK_MEMORY_ASAN 1
#endif

// AddressSanitizer keeps freed blocks resident (its quarantine, 256 MB by
// default) to catch a use after free; the window's repaints during a run
// fill it. A bound on what the code holds allows for that much more there.
#ifdef VCC_PEAK_MEMORY_ASAN
inline constexpr long kFreedButHeldKb = 256 * 1024;
#else
inline constexpr long kFreedButHeldKb = 0;
#endif

namespace peak_memory {

inline long StatusKb(const char* field) {
  QFile status("/proc/self/status");
  EXPECT_TRUE(status.open(QIODevice::ReadOnly));
  for (const QByteArray& line : status.readAll().split('\n'))
    if (line.startsWith(field)) return line.mid(static_cast<qsizetype>(qstrlen(field))).trimmed().split(' ').first().toLong();
  return -1;
}

}  // namespace peak_memory

inline long PeakResidentKbWhile(const std::function<void()>& run) {
  QFile reset("/proc/self/clear_refs");
  EXPECT_TRUE(reset.open(QIODevice::WriteOnly) && reset.write("5") == 1);
  reset.close();
  const long before = peak_memory::StatusKb("VmRSS:");
  run();
  return peak_memory::StatusKb("VmHWM:") - before;
}
