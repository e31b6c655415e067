// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the reliability tests read about their own process: resident memory,
// live heap, threads, and whether a sanitizer's allocator stands in for the
// C library's (its bookkeeping makes memory figures meaningless).

#include <dirent.h>
#include <malloc.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

namespace probe {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Resident set size in bytes, from /proc/self/statm.
inline long ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * sysconf(_SC_PAGESIZE);
}

// Bytes the C library's allocator has handed out and not had back.
inline std::size_t HeapInUse() { return mallinfo2().uordblks + mallinfo2().hblkhd; }

// Threads of this process, from /proc/self/task.
inline int ThreadCount() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/task")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
  }
  return n;
}

}  // namespace probe
