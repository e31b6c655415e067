// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A computer for the CPU sampler whose time passes only when the sampler
// sleeps: each millisecond of sleep adds to the CPU times at the set load and
// to the cycle counter at the set clock rate, so a measurement sees exactly
// the load and clock the test chose, at once.
//
// Sleeps on the GUI thread always return at once. On the sampler thread the
// one-second measurement windows pass at once as often as the test allows and
// then block until the sampler is told to stop, so a window under test samples
// exactly as often as the test wants; shorter waits (the pause between
// samples) really wait, and so does idling, for idleWaitMs instead of the
// sampler's two seconds, ended early by a nudge as the real one is.

#include "host/CpuSources.h"

#include <QCoreApplication>
#include <QThread>

#include <climits>
#include <cstdint>
#include <mutex>
#include <vector>

class FakeCpuSources : public ICpuSources {
 public:
  explicit FakeCpuSources(int threadWindows = INT_MAX) : threadWindows(threadWindows) {}

  // What the computer does while time passes.
  int loadPercent = 10;
  std::uint64_t clockMHz = 2400;
  bool hasCycleCounter = true;
  int frequencyDriverMHz = 0;
  bool timesReadable = true;
  // Measurement windows the sampler thread may pass before the next one
  // blocks; INT_MAX: never block.
  int threadWindows = INT_MAX;
  // How long an idle wait on the sampler thread really lasts unless nudged.
  int idleWaitMs = 20;

  bool ReadCpuTimes(CpuTimes& times) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!timesReadable) return false;
    times = times_;
    return true;
  }
  bool ReadCycleCounter(std::uint64_t& cycles) override {
    std::lock_guard<std::mutex> lock(mutex_);
    cycles = cycles_;
    return hasCycleCounter;
  }
  int ReadClockMHz() override { return frequencyDriverMHz; }
  int RaisePriority() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++raised_;
    return 0;
  }
  void RestorePriority(int) override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++restored_;
  }
  void LowerThreadPriority() override {
    std::lock_guard<std::mutex> lock(mutex_);
    ++lowered_;
  }

  bool Sleep(int ms, SamplerStop& stop) override {
    const bool onGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    const bool window = ms >= 1000;
    bool blocked = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(ms);
      if (window && !onGuiThread) {
        blocked = threadWindows == 0;
        if (threadWindows > 0 && threadWindows != INT_MAX) --threadWindows;
      }
      if (!blocked) {
        // One tick is 10 ms, as the kernel counts.
        const std::uint64_t ticks = static_cast<std::uint64_t>(ms) / 10;
        times_.total += ticks;
        times_.idle += ticks * static_cast<std::uint64_t>(100 - loadPercent) / 100;
        cycles_ += clockMHz * 1000u * static_cast<std::uint64_t>(ms);
      }
    }
    if (blocked) return stop.WaitFor(-1);
    if (!window && !onGuiThread) return stop.WaitFor(ms);
    return !stop.Requested();
  }

  bool IdleWait(int ms, SamplerStop& stop) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(ms);
    }
    if (QThread::currentThread() == QCoreApplication::instance()->thread()) return !stop.Requested();
    return stop.WaitUntilNudged(idleWaitMs);
  }

  std::vector<int> Sleeps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }
  int Raised() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return raised_;
  }
  int Restored() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return restored_;
  }
  int Lowered() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lowered_;
  }

 private:
  mutable std::mutex mutex_;
  CpuTimes times_{1000, 5000};
  std::uint64_t cycles_ = 123456789;
  std::vector<int> sleeps_;
  int raised_ = 0, restored_ = 0, lowered_ = 0;
};
