// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every handler of the watch ends the same way when something inside it
// fails: the failure is reported ("Error: " and its message) in a way that
// does not wait for anyone, the handler is abandoned, and the program goes
// on with the next tick. This is that one way.

#include <QString>

#include <exception>
#include <functional>
#include <utility>

// Shows a report and returns at once: a box over the window, a line in the
// journal of the guard service.
using ReportFunction = std::function<void(const QString& text)>;

inline QString ErrorReportText(const std::exception& e) {
  return QStringLiteral("Error: ") + QString::fromUtf8(e.what());
}

// Runs `body`; a failure inside it is reported and goes no further.
template <typename Body>
void Guarded(const ReportFunction& report, Body&& body) {
  try {
    std::forward<Body>(body)();
  } catch (const std::exception& e) {
    report(ErrorReportText(e));
  }
}
