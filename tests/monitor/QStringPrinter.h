// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Lets GoogleTest show QStrings as text in failure messages. Include it in
// every source of a test binary that compares QStrings, so that all of them
// print the same way.

#include <QString>

#include <ostream>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
