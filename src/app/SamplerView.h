// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where the CPU sampler's results show in the window: the speed panel, the
// load graph and the notification-area hint.

class CPUThread;
class QLabel;
class TPerformanceGraph;
class TTrayIcon;

// Each target may be null. Each is the context of its connection: Qt runs the
// update on the target's (the window's) thread, and drops it if the target
// is gone.
void ShowSamplerIn(CPUThread& sampler, QLabel* speedPanel, TPerformanceGraph* graph, TTrayIcon* trayIcon);
