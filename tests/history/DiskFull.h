// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// While it lives, no file of this process grows, as on a full disk.

#include <csignal>
#include <sys/resource.h>

class DiskFull {
 public:
  DiskFull() {
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit none = old_;
    none.rlim_cur = 0;
    handler_ = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &none);
  }
  ~DiskFull() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, handler_);
  }
  DiskFull(const DiskFull&) = delete;
  DiskFull& operator=(const DiskFull&) = delete;

 private:
  rlimit old_{};
  void (*handler_)(int) = nullptr;
};
