// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The program's title, with its version as its last word: the window's title,
// the instance socket's key, and the version scripts and metrics are told.

#include <QString>

inline const QString kApplicationTitle = QStringLiteral("Vornalith Control Centre 1.22");

inline QString ProgramVersion() { return kApplicationTitle.section(QLatin1Char(' '), -1); }
