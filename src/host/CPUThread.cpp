// SPDX-License-Identifier: GPL-3.0-or-later
#include "host/CPUThread.h"

#include "host/TrayHint.h"

#include <exception>

namespace {

QString Message(const std::exception& e) { return QString::fromLocal8Bit(e.what()); }

}  // namespace

CPUThread::CPUThread(bool createSuspended, RelaxedAtomic<int>* speedMHz, RelaxedAtomic<int>* loadPercent,
                     ICpuSources& sources, QObject* parent)
    : QThread(parent), sources_(sources), speed_(speedMHz), load_(loadPercent) {
  const std::optional<int> speed = MeasureCpuSpeed(sources_, stop_);
  if (speed_) speed_->store(speed.value_or(0));
  if (load_) load_->store(0);
  speedCheckCounter_ = 0;
  if (!createSuspended) start();
}

CPUThread::~CPUThread() { TerminateAndWait(); }

void CPUThread::Terminate() {
  requestInterruption();
  stop_.Request();
}

void CPUThread::TerminateAndWait() {
  Terminate();
  wait();
}

void CPUThread::run() {
  sources_.LowerThreadPriority();
  while (Step()) {
  }
}

void CPUThread::SetMainWindowVisible(bool visible) {
  mainWindowVisible_ = visible;
  if (visible) stop_.Nudge();
}

bool CPUThread::SamplingWanted() const {
  if (!speed_ || !load_) return false;
  const int source = TrayHintSource;
  return mainWindowVisible_ || source == 5 || source == 6;
}

bool CPUThread::Step() {
  if (stop_.Requested()) return false;
  try {
    if (!SamplingWanted()) return sources_.IdleWait(kIdleWaitMs, stop_);

    ++speedCheckCounter_;
    // The short pause that ends a sample is taken with the sample's rest,
    // one wake-up fewer, unless a clock check comes between them.
    const bool clockCheckDue = speedCheckCounter_ >= kSpeedCheckPeriod;
    const std::optional<int> load = MeasureCpuLoad(sources_, stop_, clockCheckDue ? 0 : kPauseMs);
    if (!load) return false;
    load_->store(*load);

    // Checked as "at least": a check that failed is tried again at the next
    // sample rather than after the counter has gone all the way round.
    if (clockCheckDue) {
      if (*load < kBusyLoad) {
        try {
          const std::optional<int> speed = MeasureCpuSpeed(sources_, stop_);
          if (!speed) return false;
          speed_->store(*speed);
          speedCheckCounter_ = 0;
        } catch (const std::exception& e) {
          emit ErrorRaised(Message(e));
        }
      } else {
        speedCheckCounter_ = 0;
      }
    }

    emit SpeedCaptionChanged(QString::number(speed_->load()) + QStringLiteral(" MHz "));
    emit LoadSampled(load_->load());
    UpdateTrayHint();
    return !clockCheckDue || sources_.Sleep(kPauseMs, stop_);
  } catch (const std::exception& e) {
    emit ErrorRaised(Message(e));
    return false;
  }
}

void CPUThread::UpdateTrayHint() {
  // From the window, after the hint's source changed: a CPU hint wants samples.
  if (QThread::currentThread() != this) stop_.Nudge();
  try {
    if (!speed_ || !load_) return;
    QString override = TrayHintLinkLost.Get();
    if (override.isEmpty()) override = TrayHintOverride.Get();
    emit HintChanged(override.isEmpty() ? TrayHintText(TrayHintSource, speed_->load(), load_->load())
                                        : override);
  } catch (const std::exception& e) {
    emit ErrorRaised(Message(e));
  }
}
