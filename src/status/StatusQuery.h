// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// `--status [--json]`: asks the running control centre for its latest status
// over the instance socket (or, without one, the guard service's) and prints it. Needs no display and never becomes
// the running instance, so it also works from ssh, cron and scripts.

#include <QString>

// Exit codes: 0 printed, 3 no control centre answered in time.
constexpr int kStatusNotRunningExit = 3;
constexpr int kStatusAnswerTimeoutMs = 2000;

// Asks the guard service listening at `path` for its status line; empty when
// none answered in time.
QByteArray AskGuardStatus(const QString& path, int timeoutMs);
// Where the guard service listens: VCC_GUARD_SOCKET, else its runtime folder.
QString DefaultGuardSocketPath();

// instanceKey: the single-instance key (the window title). Without a control
// centre of this user's, the guard service answers if it runs.
int RunStatusQuery(int argc, char** argv, const QString& instanceKey, bool json);
