// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The CPU sampler: a background thread that measures the computer's clock
// rate and load, keeps them in the two values it shares with the watch, and
// hands its results (the speed caption, each load sample, the tray hint) over
// through signals, which Qt delivers on the receiver's thread: no widget
// here, the window connects its panel, graph and icon to them.

#include "host/CpuSources.h"
#include "monitor/RelaxedAtomic.h"

#include <QString>
#include <QThread>

#include <cstdint>

class CPUThread : public QThread {
  Q_OBJECT
 public:
  static constexpr int kSpeedCheckPeriod = 10;  // samples between clock checks
  static constexpr int kBusyLoad = 40;          // no clock check at this load or above
  // Between looks while no sample is wanted; a change that wants one (the
  // window shown, a CPU hint chosen) ends the wait at once.
  static constexpr int kIdleWaitMs = 2000;
  static constexpr int kPauseMs = 1;            // after each sample

  // Measures the clock rate before it returns (about a second) and starts the
  // thread unless createSuspended. The two values and the sources must
  // outlive the thread.
  CPUThread(bool createSuspended, RelaxedAtomic<int>* speedMHz, RelaxedAtomic<int>* loadPercent,
            ICpuSources& sources, QObject* parent = nullptr);
  // Ends the thread and waits for it.
  ~CPUThread() override;

  // Asks the thread to end; a measurement in progress is abandoned at once.
  void Terminate();
  void TerminateAndWait();

  // Told by the window: whether it is shown or minimised to the notification area.
  void SetMainWindowVisible(bool visible);
  bool MainWindowVisible() const { return mainWindowVisible_; }

  // Builds the hint from the current readings and hands it to the icon. Runs on
  // either thread; the icon is changed on the window's thread.
  void UpdateTrayHint();

  // One pass of the run loop; false when the loop is to end.
  bool Step();

  std::uint16_t SpeedCheckCounter() const { return speedCheckCounter_; }

 signals:
  void SpeedCaptionChanged(const QString& caption);
  void LoadSampled(int loadPercent);
  void HintChanged(const QString& hint);
  void ErrorRaised(const QString& message);

 protected:
  void run() override;

 private:
  bool SamplingWanted() const;

  ICpuSources& sources_;
  SamplerStop stop_;
  RelaxedAtomic<int>* speed_;
  RelaxedAtomic<int>* load_;
  RelaxedAtomic<bool> mainWindowVisible_{false};
  std::uint16_t speedCheckCounter_ = 0;
};
