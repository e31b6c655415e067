// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// `--status [--json]`: asks the running control centre for its latest status
// over the instance socket and prints it. Needs no display and never becomes
// the running instance, so it also works from ssh, cron and scripts.

#include <QString>

// Exit codes: 0 printed, 3 no control centre answered in time.
constexpr int kStatusNotRunningExit = 3;
constexpr int kStatusAnswerTimeoutMs = 2000;

// instanceKey: the single-instance key (the window title).
int RunStatusQuery(int argc, char** argv, const QString& instanceKey, bool json);
