// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/SignalBridge.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[3] = {SIGTERM, SIGINT, SIGHUP};

// The handler's only state: where to write. Lock-free, so it is safe to read
// from a handler.
std::atomic<int> g_writeFd{-1};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnSignal(int number) {
  const int savedErrno = errno;
  const int fd = g_writeFd.load(std::memory_order_relaxed);
  if (fd >= 0) {
    const auto byte = static_cast<unsigned char>(number);
    // A full pipe drops the byte: one pending signal is as good as many.
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

SignalBridge::SignalBridge(QObject* parent) : QObject(parent) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
  int expected = -1;
  if (!g_writeFd.compare_exchange_strong(expected, fds[1])) {
    ::close(fds[0]);
    ::close(fds[1]);
    return;
  }
  readFd_ = fds[0];
  writeFd_ = fds[1];
  notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &SignalBridge::Drain);

  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Blocking calls (the pause of the shutdown sequence, USB exchanges, log
  // writes) go on as if nothing had happened.
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &action, &previous_[i]);
}

SignalBridge::~SignalBridge() {
  if (!Active()) return;
  for (int i = 0; i < 3; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
  g_writeFd.store(-1);
  delete notifier_;
  ::close(readFd_);
  ::close(writeFd_);
}

void SignalBridge::Drain() {
  unsigned char buffer[16];
  for (;;) {
    const ssize_t n = ::read(readFd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) emit received(buffer[i]);
  }
}
