#pragma once
// What the notification-area hint shows. Written by the window, read by the
// sampler thread without a lock.

#include "monitor/RelaxedAtomic.h"

// 0..4 a sensor's temperature (sensor 1..5), 5 the CPU speed, 6 the CPU load.
extern RelaxedAtomic<int> TrayHintSource;
