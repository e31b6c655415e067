// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the notification-area hint shows. Written by the window, read by the
// sampler thread without waiting on the window.

#include "monitor/RelaxedAtomic.h"

#include <QString>

#include <mutex>

// 0..4 a sensor's temperature (sensor 1..5), 5 the CPU speed, 6 the CPU load.
extern RelaxedAtomic<int> TrayHintSource;

// A text one thread sets and another reads whole.
class SharedText {
 public:
  void Set(const QString& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_ = text;
  }
  QString Get() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }

 private:
  mutable std::mutex mutex_;
  QString text_;
};

// While a warning, alarm or fault stands: the status text that replaces the hint.
extern SharedText TrayHintOverride;
// While the unit does not answer: the text that replaces both.
extern SharedText TrayHintLinkLost;

// The hint for a source (see TrayHintSource) from the current readings:
// "Evaporator Temp: -35", "Sensor 3 Temp: N/A", "CPU Speed: 2400 MHz",
// "CPU load: 12 %"; empty for an unknown source. Temperatures follow the
// display unit, without a unit sign.
QString TrayHintText(int source, int speedMHz, int loadPercent);
